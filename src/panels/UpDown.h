#pragma once

#include <QWidget>

class QToolButton;

namespace regbench::panels {

// A bare pair of arrows, up above down, holding a value from Minimum to Maximum. It does not wrap: up at
// Maximum and down at Minimum do nothing.
class UpDown : public QWidget {
    Q_OBJECT
public:
    static constexpr int Minimum = 0;
    static constexpr int Maximum = 255;

    explicit UpDown(QWidget* parent = nullptr);

    int value() const { return value_; }
    // Clamps to the range; a real change emits changed() before this returns.
    void setValue(int value);
    // Names the arrows after what they step, e.g. "ALPHA (0x05)"; an empty text names them alone.
    void nameArrows(const QString& subject);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void changed();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* makeArrow(Qt::ArrowType arrow, const QString& name, int step);

    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int value_ = Minimum;
};

} // namespace regbench::panels
