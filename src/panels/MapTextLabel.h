#pragma once

#include <QLabel>

namespace regbench::panels {

// A label for a text from the register map. The text is shown exactly as the file writes it, never read as
// markup; when the label is too narrow for it, the tooltip holds it whole.
class MapTextLabel : public QLabel {
    Q_OBJECT
public:
    MapTextLabel(const QString& text, QWidget* parent);

    void setMapText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();
};

} // namespace regbench::panels
