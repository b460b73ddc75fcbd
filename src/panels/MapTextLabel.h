#pragma once

#include <QLabel>

namespace regbench::panels {

// A label for a text from the register map. The text is shown exactly as the file writes it, never read as
// markup; when the label is too narrow for it, it is cut with "…", and the tooltip and the accessible name
// hold it whole, as far as any control shows a text (MapText::bounded).
class MapTextLabel : public QLabel {
    Q_OBJECT
public:
    MapTextLabel(const QString& text, QWidget* parent);

    void setMapText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fit();

    QString mapText_; // bounded
};

} // namespace regbench::panels
