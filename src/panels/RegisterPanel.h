#pragma once

#include <QFrame>

#include <array>

class QLabel;
class QPushButton;

namespace regbench::panels {

class HexLineEdit;
class UpDown;

// One of the six register panels, reused for every tab. Its controls carry the control-array names of the
// whole window: panel p holds bit buttons and bit labels p * 8 to p * 8 + 7.
class RegisterPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int BitCount = 8;

    RegisterPanel(int index, QWidget* parent);

    int index() const { return index_; }
    QLabel* regName() const { return lblRegName_; }
    QLabel* regAddr() const { return lblRegAddr_; }
    QLabel* bitName(int bit) const { return lblBitName_.at(static_cast<std::size_t>(bit)); }
    QPushButton* bitButton(int bit) const { return cbRegToggleBit_.at(static_cast<std::size_t>(bit)); }
    HexLineEdit* hexText() const { return tbRegdata_; }
    UpDown* upDown() const { return updnRegData_; }
    QPushButton* readButton() const { return cbRead_; }
    QPushButton* writeButton() const { return cbWrite_; }

    // Caption "1" on pure green or "0" on mid grey; the caption is what the bit handlers read back.
    static void setBitState(QPushButton* button, bool set);

signals:
    void bitClicked(int bitButtonIndex);
    void keyTyped(int panel, int key);
    void upDownChanged(int panel);
    void readClicked(int panel);
    void writeClicked(int panel);

private:
    void createBitControls();
    void createValueControls();

    int index_;
    QLabel* lblRegName_ = nullptr;
    QLabel* lblRegAddr_ = nullptr;
    std::array<QLabel*, BitCount> lblBitName_{};
    std::array<QPushButton*, BitCount> cbRegToggleBit_{};
    HexLineEdit* tbRegdata_ = nullptr;
    UpDown* updnRegData_ = nullptr;
    QPushButton* cbRead_ = nullptr;
    QPushButton* cbWrite_ = nullptr;
};

} // namespace regbench::panels
