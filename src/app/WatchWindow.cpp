#include "app/WatchWindow.h"

#include "app/WatchChartView.h"
#include "app/WatchTraces.h"
#include "common/HexText.h"
#include "panels/MapText.h"
#include "regmap/RegisterMap.h"
#include "session/Session.h"

#include <QCategoryAxis>
#include <QChart>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSpinBox>
#include <QValueAxis>

#include <algorithm>

namespace regbench::app {

using common::HexText;
using regmap::RegisterMap;

namespace {

// A register's block on the vertical axis: its value lane on top, its bits b7..b0 below, a unit each.
constexpr double BlockHeight = 12;
constexpr double ValueLane = 8;
constexpr int PixelsPerUnit = 20;

const QColor Colors[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                         QColor(0x94, 0x67, 0xbd), QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b),
                         QColor(0x17, 0xbe, 0xcf), QColor(0x7f, 0x7f, 0x7f)};

QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

} // namespace

WatchWindow::WatchWindow(session::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), sampler_(session) {
    setObjectName(QStringLiteral("WatchWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false); // deleted once no access waits, see closeEvent
    createChart();
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(chartView_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(createControls());
    newestBox_ = new QVBoxLayout;
    layout->addLayout(newestBox_);
    layout->addWidget(scroll, 1);
    lblWatchStatus_ = new QLabel(this);
    lblWatchStatus_->setObjectName(QStringLiteral("lblWatchStatus"));
    layout->addWidget(lblWatchStatus_);
    resize(1000, 760);

    sampler_.onSample = [this](const session::Sampler::Sample& sample) { sampled(sample); };
    refreshTimer_.setInterval(RefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &WatchWindow::refresh);
    refreshTimer_.start();
}

WatchWindow::~WatchWindow() = default;

QWidget* WatchWindow::createControls() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    cbWatchRegister_ = new QComboBox(bar);
    cbWatchRegister_->setObjectName(QStringLiteral("cbWatchRegister"));
    cbWatchRegister_->setAccessibleName(QStringLiteral("Register to add"));
    const RegisterMap& map = session_.map();
    for (int a = 0; a < RegisterMap::RegisterCount; ++a)
        if (!map.RegNames[static_cast<std::size_t>(a)].isEmpty())
            cbWatchRegister_->addItem(registerText(static_cast<std::uint8_t>(a)), a);
    auto* add = button(QStringLiteral("Add"), QStringLiteral("cmdWatchAdd"), bar);
    sbWatchInterval_ = new QSpinBox(bar);
    sbWatchInterval_->setObjectName(QStringLiteral("sbWatchInterval"));
    sbWatchInterval_->setRange(session::Sampler::MinIntervalMs, session::Sampler::MaxIntervalMs);
    sbWatchInterval_->setValue(session::Sampler::DefaultIntervalMs);
    sbWatchInterval_->setSuffix(QStringLiteral(" ms"));
    sbWatchInterval_->setAccessibleName(QStringLiteral("Interval"));
    cmdWatchPause_ = button(QStringLiteral("Pause"), QStringLiteral("cmdWatchPause"), bar);
    auto* clear = button(QStringLiteral("Clear"), QStringLiteral("cmdWatchClear"), bar);
    auto* follow = button(QStringLiteral("Follow"), QStringLiteral("cmdWatchFollow"), bar);
    follow->setToolTip(QStringLiteral("Show the last minute again as it comes"));
    auto* save = button(QStringLiteral("Save\u2026"), QStringLiteral("cmdWatchSave"), bar);
    auto* interval = new QLabel(QStringLiteral("Every"), bar);
    interval->setBuddy(sbWatchInterval_);
    for (QWidget* w : std::initializer_list<QWidget*>{cbWatchRegister_, add, interval, sbWatchInterval_,
                                                      cmdWatchPause_, clear, follow, save})
        row->addWidget(w);
    row->addStretch(1);
    connect(add, &QPushButton::clicked, this, &WatchWindow::cmdWatchAdd_Click);
    connect(cmdWatchPause_, &QPushButton::clicked, this, &WatchWindow::cmdWatchPause_Click);
    connect(clear, &QPushButton::clicked, this, &WatchWindow::cmdWatchClear_Click);
    connect(follow, &QPushButton::clicked, this, &WatchWindow::cmdWatchFollow_Click);
    connect(save, &QPushButton::clicked, this, &WatchWindow::cmdWatchSave_Click);
    connect(sbWatchInterval_, &QSpinBox::valueChanged, this, [this](int ms) { sampler_.setInterval(ms); });
    return bar;
}

void WatchWindow::createChart() {
    chart_ = new QChart;
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QValueAxis(chart_);
    timeAxis_->setTitleText(QStringLiteral("Time (s)"));
    timeAxis_->setLabelFormat(QStringLiteral("%.1f"));
    timeAxis_->setRange(0, FollowSpanMs / 1000.0);
    laneAxis_ = new QCategoryAxis(chart_);
    laneAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    laneAxis_->setTruncateLabels(false); // a bit's name cut to "…" names nothing
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(laneAxis_, Qt::AlignLeft);
    chartView_ = new WatchChartView(chart_, this);
    chartView_->setObjectName(QStringLiteral("chartWatch"));
    chartView_->setAccessibleName(QStringLiteral("Samples drawn over time"));
    connect(chartView_, &WatchChartView::timeRangeChosen, this, [this] {
        follow_ = false;
        dirty_ = true;
    });
}

// A map's text may be megabytes long: the window shows what a panel shows of it.
QString WatchWindow::registerText(std::uint8_t address) const {
    const QString name = panels::MapText::bounded(session_.map().RegNames[address]);
    return name.isEmpty() ? HexText::byteText(address)
                          : name + QStringLiteral(" (") + HexText::byteText(address) + QLatin1Char(')');
}

QString WatchWindow::registersText() const {
    QStringList texts;
    for (const std::uint8_t address : record_.registers())
        texts << registerText(address);
    return texts.join(QStringLiteral(", "));
}

void WatchWindow::addRegister(std::uint8_t address) {
    const auto& watched = record_.registers();
    if (stopped_ || std::find(watched.begin(), watched.end(), address) != watched.end())
        return;
    const bool first = watched.empty();
    record_.addRegister(address);
    sampler_.setRegisters(record_.registers());
    const std::size_t column = record_.registers().size() - 1;
    addLanes(column);
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("lblWatchValue_%1").arg(column));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    newestBox_->addWidget(label);
    newest_.push_back(label);
    setWindowTitle(QStringLiteral("Watch: ") + registersText());
    if (first) {
        session_.LogLine(WatchLog::started(registersText(), sampler_.interval()));
        sampler_.start();
    }
    showNewest();
    dirty_ = true;
}

// The bases of every block move when one is added: the lanes are laid out again, the traces redrawn.
void WatchWindow::addLanes(std::size_t column) {
    const QColor color = Colors[column % std::size(Colors)];
    traces_.push_back({column, -1, color, {}});
    for (int bit = RegisterMap::BitsPerRegister - 1; bit >= 0; --bit)
        traces_.push_back({column, bit, color.lighter(130), {}});
    for (const QString& label : laneAxis_->categoriesLabels())
        laneAxis_->remove(label);
    QStringList used;
    const auto unique = [&used](QString label) {
        while (used.contains(label))
            label += QChar(0x200B); // the axis keeps one category a label
        used << label;
        return label;
    };
    const std::size_t count = record_.registers().size();
    laneAxis_->setStartValue(0);
    for (std::size_t c = count; c-- > 0;) {
        const std::uint8_t a = record_.registers()[c];
        const QString name = session_.map().RegNames[a].isEmpty()
                                 ? HexText::byteText(a)
                                 : panels::MapText::bounded(session_.map().RegNames[a]);
        for (int bit = 0; bit < RegisterMap::BitsPerRegister; ++bit) {
            const QString bitName =
                panels::MapText::bounded(session_.map().BitNames[static_cast<std::size_t>(bit)][a]);
            laneAxis_->append(unique(bitName.isEmpty() || bitName == QLatin1String("-")
                                         ? name + QStringLiteral(".b") + QString::number(bit)
                                         : bitName),
                              laneBase(c) + bit + 1);
        }
        laneAxis_->append(unique(registerText(a)), laneBase(c) + BlockHeight);
    }
    laneAxis_->setRange(0, BlockHeight * static_cast<double>(count));
    chartView_->setMinimumHeight(80 +
                                 static_cast<int>(BlockHeight * PixelsPerUnit * static_cast<double>(count)));
}

double WatchWindow::laneBase(std::size_t column) const {
    return BlockHeight * static_cast<double>(record_.registers().size() - 1 - column);
}

void WatchWindow::sampled(const session::Sampler::Sample& sample) {
    record_.add(sample);
    for (const QString& line : log_.lines(record_.registers(), sample))
        session_.LogLine(line);
    dirty_ = true;
}

void WatchWindow::refresh() {
    showStatus();
    if (!dirty_ || !isVisible())
        return;
    dirty_ = false;
    showNewest();
    qint64 from = static_cast<qint64>(timeAxis_->min() * 1000);
    qint64 to = static_cast<qint64>(timeAxis_->max() * 1000);
    if (follow_ && record_.size() > 0) {
        to = std::max<qint64>(record_.time(record_.size() - 1), FollowSpanMs);
        from = to - FollowSpanMs;
        timeAxis_->setRange(static_cast<double>(from) / 1000.0, static_cast<double>(to) / 1000.0);
    }
    drawTraces(from, to);
}

void WatchWindow::drawTraces(qint64 fromMs, qint64 toMs) {
    const double bucketMs = static_cast<double>(toMs - fromMs) / std::max(1.0, chart_->plotArea().width());
    for (Trace& trace : traces_) {
        const double base = laneBase(trace.column);
        const WatchTraces::Lane lane = trace.bit < 0
                                           ? WatchTraces::Lane{base + ValueLane + 0.2, 3.6 / 255, -1}
                                           : WatchTraces::Lane{base + trace.bit + 0.25, 0.5, trace.bit};
        showSegments(trace, WatchTraces::segments(record_, trace.column, fromMs, toMs, bucketMs, lane));
    }
}

// A failed read is a gap: each run of good reads is a series of its own.
void WatchWindow::showSegments(Trace& trace, const std::vector<QPolygonF>& segments) {
    while (trace.segments.size() < segments.size()) {
        auto* series = new QLineSeries;
        QPen pen(trace.color, 0); // cosmetic and one pixel wide: the raster engine's fast path, no stroker
        pen.setCosmetic(true);
        series->setPen(pen);
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(laneAxis_);
        trace.segments.push_back(series);
    }
    for (std::size_t i = 0; i < trace.segments.size(); ++i) {
        if (i < segments.size())
            trace.segments[i]->replace(segments[i]);
        else if (trace.segments[i]->count() > 0)
            trace.segments[i]->clear();
    }
}

// The newest values as text, which a screen reader reads and the chart cannot give.
void WatchWindow::showNewest() {
    for (std::size_t c = 0; c < newest_.size(); ++c) {
        const int value = record_.newest(c);
        QString text = registerText(record_.registers()[c]) + QStringLiteral(" = ") +
                       (value >= 0 ? HexText::byteText(value) : QStringLiteral("--"));
        if (record_.newestFailed(c))
            text += QStringLiteral(" (last read failed)");
        if (newest_[c]->text() != text)
            newest_[c]->setText(text);
    }
}

void WatchWindow::showStatus() {
    QString text = stopped_              ? QStringLiteral("Stopped")
                   : !sampler_.running() ? QStringLiteral("Paused")
                   : sampler_.waitingForBridge()
                       ? QStringLiteral("Waiting for the bridge")
                       : QStringLiteral("Sampling every %1 ms").arg(sampler_.interval());
    text += QStringLiteral(": %1 samples, %2 late")
                .arg(sampler_.samples())
                .arg(sampler_.late() + sampler_.missed());
    if (lblWatchStatus_->text() != text)
        lblWatchStatus_->setText(text);
}

void WatchWindow::cmdWatchAdd_Click() {
    if (cbWatchRegister_->currentIndex() >= 0)
        addRegister(static_cast<std::uint8_t>(cbWatchRegister_->currentData().toInt()));
}

void WatchWindow::cmdWatchPause_Click() {
    if (stopped_)
        return;
    if (sampler_.running()) {
        sampler_.pause();
        cmdWatchPause_->setText(QStringLiteral("Resume"));
    } else {
        sampler_.start();
        cmdWatchPause_->setText(QStringLiteral("Pause"));
    }
}

void WatchWindow::cmdWatchClear_Click() {
    record_.clear();
    sampler_.reset();
    follow_ = true;
    dirty_ = true;
    refresh();
}

void WatchWindow::cmdWatchFollow_Click() {
    follow_ = true;
    dirty_ = true;
    refresh();
}

void WatchWindow::cmdWatchSave_Click() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save samples"), QStringLiteral("watch.csv"),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty())
        saveTo(path);
}

bool WatchWindow::saveTo(const QString& path) {
    QSaveFile file(path);
    const QByteArray text = record_.csv(session_.map()).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) {
        lblWatchStatus_->setText(QStringLiteral("Saved %1 samples to %2").arg(record_.size()).arg(path));
        return true;
    }
    lblWatchStatus_->setText(QStringLiteral("Could not save to %1: %2").arg(path, file.errorString()));
    return false;
}

// A sample may be waiting for its reply in the event loop that delivered the close: the window stays until
// no access waits, and the sample that waited finds its sampler stopped.
void WatchWindow::closeEvent(QCloseEvent* event) {
    if (!stopped_) {
        stopped_ = true;
        sampler_.pause();
        refreshTimer_.stop();
        if (!record_.registers().empty())
            session_.LogLine(WatchLog::stopped(registersText(), sampler_.samples()));
        emit closed(this);
        const QPointer<WatchWindow> self(this);
        session_.operations().whenQuiet([self] {
            if (self)
                self->deleteLater();
        });
    }
    event->accept();
}

} // namespace regbench::app
