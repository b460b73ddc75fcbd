#pragma once

#include <QFrame>
#include <QPoint>

#include <array>

class QLabel;
class QPushButton;

namespace regbench::regmap {
struct RegisterMap;
}

namespace regbench::panels {

class BitButton;
class HexLineEdit;
class MapTextLabel;
class UpDown;

// One of the six register panels, reused for every tab. Its controls carry the control-array names of the
// whole window: panel p holds bit buttons and bit labels p * 8 to p * 8 + 7. The three views of the value
// (bit buttons, hex text, up-down) are brought into line here; when, the window decides.
class RegisterPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int BitCount = 8;

    RegisterPanel(int index, QWidget* parent);

    int index() const { return index_; }

    // Name, address and bit names of a register of the map; the value is left to showValue().
    void showRegister(const regmap::RegisterMap& map, int address);

    // The three views of the value are brought into line only here, the hex text leading: each call below
    // ends with the bit buttons and the up-down following the text. upDownChanged() reports the user's moves
    // of the up-down only, never the ones these calls make.
    //
    // Writes the whole text as the two-digit form of value, which leaves the caret at 0 with nothing
    // selected.
    void showValue(int value);
    // Flips a bit button (one whose caption is exactly "1" clears, any other sets); the text follows the
    // bits.
    void toggleBit(int bit);
    // Applies the hex typing rules to one typed character; true when the text changed.
    bool typeKey(int key);

    // The value of the hex text, of the bit buttons' captions and of the up-down.
    int textValue() const;
    int bitsValue() const;
    int upDownValue() const;

    BitButton* bitButton(int bit) const { return cbRegToggleBit_.at(static_cast<std::size_t>(bit)); }
    HexLineEdit* hexText() const { return tbRegdata_; }
    UpDown* upDown() const { return updnRegData_; }

signals:
    void bitClicked(int bitButtonIndex);
    void keyTyped(int panel, int key);
    void upDownChanged(int panel);
    void readClicked(int panel);
    void writeClicked(int panel);
    // The context menu (a right click, the menu key) was asked for anywhere on the panel.
    void menuRequested(int panel, const QPoint& globalPos);
    // Assistive technology's Watch action.
    void watchRequested(int panel);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void createBitControls();
    void createValueControls();
    void followText();
    // What assistive technology tells of the controls: `shown` names the register, bitNames the bits.
    void describe(const QString& shown, const std::array<QString, BitCount>& bitNames);

    int index_;
    MapTextLabel* lblRegName_ = nullptr;
    QLabel* lblRegAddr_ = nullptr;
    std::array<MapTextLabel*, BitCount> lblBitName_{};
    std::array<BitButton*, BitCount> cbRegToggleBit_{};
    HexLineEdit* tbRegdata_ = nullptr;
    UpDown* updnRegData_ = nullptr;
    QPushButton* cbRead_ = nullptr;
    QPushButton* cbWrite_ = nullptr;
};

} // namespace regbench::panels
