#include "panels/RegisterPanel.h"

#include "common/HexText.h"
#include "panels/Accessible.h"
#include "panels/BitButton.h"
#include "panels/HexKeyRules.h"
#include "panels/HexLineEdit.h"
#include "panels/MapText.h"
#include "panels/MapTextLabel.h"
#include "panels/RegisterPanelAccessible.h"
#include "panels/Twips.h"
#include "panels/UpDown.h"
#include "regmap/RegisterMap.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace regbench::panels {

namespace {

QFont boldFont(double points) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QString indexedName(const char* name, int index) {
    return QString::fromLatin1(name) + QLatin1Char('_') + QString::number(index);
}

} // namespace

RegisterPanel::RegisterPanel(int index, QWidget* parent) : QFrame(parent), index_(index) {
    Accessible::install<RegisterPanel, RegisterPanelAccessible>();
    setObjectName(indexedName("fmRegCtrls", index));
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);

    lblRegName_ = new MapTextLabel(QStringLiteral("REGNAME"), this);
    lblRegName_->setObjectName(indexedName("lblRegName", index));
    lblRegName_->setGeometry(twipsRect(120, 240, 1335, 255));
    lblRegName_->setFont(boldFont(9.75));

    lblRegAddr_ = new QLabel(QStringLiteral("@ reg addr 0xXX"), this);
    lblRegAddr_->setTextFormat(Qt::PlainText);
    lblRegAddr_->setObjectName(indexedName("lblRegAddr", index));
    lblRegAddr_->setGeometry(twipsRect(120, 480, 1335, 255));

    createBitControls();
    createValueControls();
    describe(QString(), {});
}

void RegisterPanel::createBitControls() {
    // Bit 7 stands leftmost, so the row reads as the value written in base 2.
    for (int bit = BitCount - 1; bit >= 0; --bit) {
        const int arrayIndex = index_ * BitCount + bit;
        const int left = 1680 + 1080 * (BitCount - 1 - bit);
        auto* label = new MapTextLabel(QStringLiteral("BITNAME"), this);
        label->setObjectName(indexedName("lblBitName", arrayIndex));
        label->setGeometry(twipsRect(left, 120, 975, 255));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        lblBitName_.at(static_cast<std::size_t>(bit)) = label;

        auto* button = new BitButton(this);
        button->setObjectName(indexedName("cbRegToggleBit", arrayIndex));
        button->setGeometry(twipsRect(left, 360, 1005, 375));
        button->setFont(boldFont(12));
        connect(button, &QPushButton::clicked, this, [this, arrayIndex] { emit bitClicked(arrayIndex); });
        cbRegToggleBit_.at(static_cast<std::size_t>(bit)) = button;
    }
}

void RegisterPanel::createValueControls() {
    tbRegdata_ = new HexLineEdit(this);
    tbRegdata_->setObjectName(indexedName("tbRegdata", index_));
    tbRegdata_->setGeometry(twipsRect(10440, 360, 615, 405));
    tbRegdata_->setFont(boldFont(12));
    tbRegdata_->setText(QStringLiteral("00"));
    tbRegdata_->setCursorPosition(0);
    connect(tbRegdata_, &HexLineEdit::keyPressed, this, [this](int key) { emit keyTyped(index_, key); });

    updnRegData_ = new UpDown(this);
    updnRegData_->setObjectName(indexedName("updnRegData", index_));
    updnRegData_->setGeometry(twipsRect(11040, 360, 240, 375));
    connect(updnRegData_, &UpDown::changed, this, [this] { emit upDownChanged(index_); });

    cbRead_ = new QPushButton(QStringLiteral("Read"), this);
    cbRead_->setObjectName(indexedName("cbRead", index_));
    cbRead_->setGeometry(twipsRect(11520, 360, 735, 375));
    connect(cbRead_, &QPushButton::clicked, this, [this] { emit readClicked(index_); });

    cbWrite_ = new QPushButton(QStringLiteral("Write"), this);
    cbWrite_->setObjectName(indexedName("cbWrite", index_));
    cbWrite_->setGeometry(twipsRect(12360, 360, 735, 375));
    connect(cbWrite_, &QPushButton::clicked, this, [this] { emit writeClicked(index_); });
}

void RegisterPanel::showRegister(const regmap::RegisterMap& map, int address) {
    const auto a = static_cast<std::size_t>(address);
    lblRegName_->setMapText(map.RegNames.at(a));
    lblRegAddr_->setText(QStringLiteral("@ reg addr 0x") + common::HexText::twoDigitHex(address));
    std::array<QString, BitCount> bitNames;
    for (std::size_t b = 0; b < BitCount; ++b) {
        lblBitName_.at(b)->setMapText(map.BitNames.at(b).at(a));
        bitNames.at(b) = MapText::bounded(map.BitNames.at(b).at(a));
    }
    const QString name = MapText::bounded(map.RegNames.at(a));
    const QString hex = common::HexText::byteText(address);
    describe(name.isEmpty() ? QStringLiteral("register ") + hex : name + QStringLiteral(" (") + hex + u')',
             bitNames);
}

void RegisterPanel::describe(const QString& shown, const std::array<QString, BitCount>& bitNames) {
    const auto tell = [](QWidget* widget, const QString& name, const QString& description) {
        Accessible::setName(widget, name);
        Accessible::setDescription(widget, description);
    };
    tell(this, shown, QString());
    const QString of = shown.isEmpty() ? QString() : QStringLiteral(" of ") + shown;
    for (int b = 0; b < BitCount; ++b) {
        const QString bit = QStringLiteral("Bit ") + QString::number(b);
        const QString& name = bitNames.at(static_cast<std::size_t>(b));
        tell(bitButton(b), name.isEmpty() ? bit : name + QStringLiteral(", bit ") + QString::number(b),
             bit + of);
    }
    tell(tbRegdata_, QStringLiteral("Value") + of, QString());
    tell(updnRegData_, QStringLiteral("Step value") + of, QString());
    updnRegData_->nameArrows(shown);
    tell(cbRead_, QString(), shown);
    tell(cbWrite_, QString(), shown);
}

// The panel's controls have no menu of their own (the hex field's is blocked), so theirs comes here too.
void RegisterPanel::contextMenuEvent(QContextMenuEvent* event) {
    emit menuRequested(index_, event->globalPos());
    event->accept();
}

void RegisterPanel::showValue(int value) {
    tbRegdata_->applyState(HexFieldState{common::HexText::twoDigitHex(value), 0, 0});
    followText();
}

void RegisterPanel::toggleBit(int bit) {
    bitButton(bit)->setBit(bitButton(bit)->text() != QStringLiteral("1"));
    showValue(bitsValue());
}

bool RegisterPanel::typeKey(int key) {
    const HexKeyResult result = HexKeyRules::apply(tbRegdata_->fieldState(), key);
    if (!result.changed)
        return false;
    tbRegdata_->applyState(result.state);
    followText();
    return true;
}

// A lone digit left by typing stays as it is: only the other two views are rewritten.
void RegisterPanel::followText() {
    const int value = textValue();
    for (int b = 0; b < BitCount; ++b)
        bitButton(b)->setBit((value & (1 << b)) > 0);
    const QSignalBlocker quiet(updnRegData_);
    updnRegData_->setValue(value);
}

int RegisterPanel::textValue() const {
    return common::HexText::value(tbRegdata_->text());
}

int RegisterPanel::bitsValue() const {
    int value = 0;
    for (int b = 0; b < BitCount; ++b) {
        if (bitButton(b)->text() == QStringLiteral("1"))
            value += 1 << b;
    }
    return value;
}

int RegisterPanel::upDownValue() const {
    return updnRegData_->value();
}

} // namespace regbench::panels
