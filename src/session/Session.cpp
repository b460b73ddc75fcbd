#include "session/Session.h"

#include "usb/BridgeIds.h"

namespace regbench::session {

Session::Session(usb::UsbDriver& driver, QObject* parent)
    : QObject(parent), link_(driver, *this), transfer_(link_, *this), operations_(map_, transfer_, *this) {
    link_.VendorId = usb::BridgeVendorId;
    link_.ProductId = usb::BridgeProductId;
    link_.DeviceContext.InterfaceNumber = 0;
    link_.DeviceContext.AlternateSetting = 0;
    link_.onAttachedChanged = [this](bool attached) {
        if (attached)
            emit bridgeAttached();
        else
            emit bridgeDetached();
    };
}

Session::~Session() {
    close();
}

void Session::start(const std::function<void(int milliseconds)>& pause) {
    link_.startUp(pause);
}

void Session::close() {
    operations_.stop();
    link_.shutDown();
}

void Session::LogText(const QString& text, const QString& suffix) {
    if (log_)
        log_->LogText(text, suffix);
}

void Session::clearLog() {
    if (log_)
        log_->clearLog();
}

} // namespace regbench::session
