// SPDX-License-Identifier: MIT
#include "desktop/MainWindow.h"

#include "activity/AppsText.h"
#include "log/Logger.h"
#include "sleep/SleepText.h"
#include "terminal/StatusFields.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace drainwatch {

MainWindow::MainWindow(ViewController& controller, const QString& title, WindowSettings& settings)
    : controller_(controller), settings_(settings)
{
    setWindowTitle(title);
    auto* tabs = new QTabWidget(this);
    tabs_ = tabs;
    tabs->setObjectName("tabs");
    tabs->addTab(buildContent(), tr("Battery"));
    graphPane_ = new GraphPane(tabs);
    tabs->addTab(graphPane_, tr("Graph"));
    sleepsPane_ = new SleepsPane(tabs);
    tabs->addTab(sleepsPane_, tr("Sleeps"));
    dischargesPane_ = new DischargesPane(tabs);
    tabs->addTab(dischargesPane_, tr("Discharges"));
    healthPane_ = new HealthPane(tabs);
    tabs->addTab(healthPane_, tr("Health"));
    appsPane_ = new AppsPane(tabs);
    tabs->addTab(appsPane_, tr("Apps"));
    setCentralWidget(tabs);
    graphTimer_ = new QTimer(this);
    graphTimer_->setInterval(60'000);
    connect(graphTimer_, &QTimer::timeout, this, &MainWindow::refreshHistory);
    connect(tabs, &QTabWidget::currentChanged, this, &MainWindow::refreshHistory);
    connect(graphPane_, &GraphPane::rangeChanged, this, &MainWindow::refreshHistory);
    connect(appsPane_, &AppsPane::spanChanged, this, &MainWindow::refreshHistory);
    buildMenu();
    statusBar()->setSizeGripEnabled(false);
    restoreGeometry(settings_.geometry());
}

QWidget* MainWindow::buildContent()
{
    auto* content = new QWidget(this);
    content_ = content;
    content->installEventFilter(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(6);
    // Wide enough for the longest consumption text, so the window does not
    // jump as the figures change.
    const int valueWidth = fontMetrics().horizontalAdvance("100.0 %/h (100.0 %/h recent, 100.0 %/h avg)");
    int row = 0;
    for (const StatusField& field : kStatusFields) {
        auto* caption = new QLabel(QString::fromUtf8(field.caption) + ':', content);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* value = new QLabel(content);
        value->setObjectName(field.outlet);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // A fixed size, so that a new text repaints the label alone: a label
        // that can change size has every new text lay out the window again,
        // and the repaint of the tab behind goes through Qt's parallel fill,
        // waking pool threads (made anew after 30 s idle) at every tick.
        value->setText(QStringLiteral("100.0 %/h (100.0 %/h recent, 100.0 %/h avg)"));
        value->setFixedSize(value->sizeHint().expandedTo(QSize(valueWidth, 0)));
        value->clear();
        values_.push_back(value);
        valueWidth_ = std::max(valueWidth_, value->width());
        captionWidth_ = std::max(captionWidth_, caption->sizeHint().width());
        caption->setBuddy(value);
        caption->setObjectName(QString::fromUtf8(field.outlet) + QStringLiteral("Caption"));
        caption->setToolTip(QString::fromUtf8(field.meaning));
        value->setToolTip(QString::fromUtf8(field.meaning));
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
        fields_.push_back(std::make_unique<QtTextField>(value));
        if (field.member == &ViewController::healthLabel)
            fields_.back()->shown = [this](const std::string& text) { return health_(text); };
        controller_.*field.member = fields_.back().get();
    }

    wattsBox_ = new QCheckBox(tr("Show watts"), content);
    wattsBox_->setObjectName("useWattsCheckbox");
    wattsOutlet_ = std::make_unique<QtCheckBox>(wattsBox_);
    controller_.useWattsCheckbox = wattsOutlet_.get();
    wattsBox_->setChecked(settings_.useWatts());
    connect(wattsBox_, &QCheckBox::toggled, this, [this](bool checked) {
        settings_.setUseWatts(checked);
        controller_.useWattsToggled();
        refreshHistory();
    });
    grid->addWidget(wattsBox_, row, 1);

    auto* reset = new QPushButton(tr("Reset"), content);
    reset->setObjectName("resetButton");
    reset->setToolTip(tr("Count the awake time on battery from now"));
    connect(reset, &QPushButton::clicked, this, [this] { controller_.resetButtonClicked(); });
    auto* showLogButton = new QPushButton(tr("Show Log"), content);
    showLogButton->setObjectName("showLogButton");
    connect(showLogButton, &QPushButton::clicked, this, [this] { showLog(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(reset);
    buttons->addWidget(showLogButton);

    sleepLine_ = new QLabel(content);
    sleepLine_->setObjectName("lastSleepLabel");
    sleepLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sleepLine_->setWordWrap(true);
    sleepLine_->hide();

    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(18, 14, 18, 10);
    column->addLayout(grid);
    column->addWidget(sleepLine_);
    column->addStretch(1);
    column->addSpacing(8);
    column->addLayout(buttons);
    // Set, rather than taken from the figures, whose width follows the window's:
    // else a window once enlarged could not be made smaller again.
    const QMargins margins = column->contentsMargins();
    content->setMinimumWidth(margins.left() + captionWidth_ + grid->horizontalSpacing() + valueWidth_ +
                             margins.right());
    return content;
}

// The figures take the width of an enlarged window. Their size changes here
// only, never with a text: a label of fixed size repaints alone.
void MainWindow::fitFigures()
{
    const int width = valueWidth_ + content_->width() - content_->minimumWidth();
    for (QLabel* value : values_)
        value->setFixedWidth(std::max(valueWidth_, width));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == content_ && event->type() == QEvent::Resize)
        fitFigures();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(tr("&File"));
    menu->addAction(tr("Show &Log"), QKeySequence(Qt::CTRL | Qt::Key_L), this, [this] { showLog(); });
    menu->addAction(tr("&Reset"), QKeySequence(Qt::CTRL | Qt::Key_R), this,
                    [this] { controller_.resetButtonClicked(); });
    menu->addSeparator();
    startAtLogin_ = menu->addAction(tr("Start at Lo&gin"));
    startAtLogin_->setCheckable(true);
    suspendWithLidClosed_ = menu->addAction(tr("&Suspend When the Lid Stays Closed"));
    suspendWithLidClosed_->setCheckable(true);
    suspendWithLidClosed_->setToolTip(tr("On battery, ask logind to suspend after some minutes awake with the lid "
                                         "closed, unless a program of yours holds sleep"));
    menu->addSeparator();
    menu->addAction(tr("&Close Window"), QKeySequence(Qt::CTRL | Qt::Key_W), this, &QWidget::close);
    menu->addAction(tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, &MainWindow::quitRequested);
}

bool MainWindow::showLog()
{
    if (controller_.showLog())
        return true;
    reportLogProblem(opener_ ? opener_->problem() : tr("no application could open it"));
    return false;
}

void MainWindow::setFileOpener(QtFileOpener& opener)
{
    opener_ = &opener;
    connect(&opener, &QtFileOpener::failed, this, &MainWindow::reportLogProblem);
}

// A message of its own, not the status line: it stays until dismissed, and
// the path can be copied to open the file some other way.
void MainWindow::reportLogProblem(const QString& reason)
{
    if (!logProblem_) {
        logProblem_ = new QMessageBox(QMessageBox::Warning, tr("Show Log"), QString(), QMessageBox::Close, this);
        logProblem_->setObjectName("logProblem");
        logProblem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        logProblem_->setWindowModality(Qt::NonModal);
    }
    logProblem_->setText(tr("The log could not be opened: %1.").arg(reason));
    logProblem_->setInformativeText(
        tr("The log is the file\n%1").arg(QString::fromStdString(Logger::main().filePath().string())));
    logProblem_->show();
    logProblem_->raise();
}

void MainWindow::keepGeometry() { settings_.setGeometry(saveGeometry()); }

void MainWindow::showSleeps(const SleepTracker& sleeps, std::optional<double> charge, int lidRecords)
{
    QStringList lines;
    if (const auto& record = sleeps.lastRecord())
        lines << QString::fromStdString(lastSleepLine(*record));
    if (charge)
        if (const auto forecast = sleepForecastLine(*charge, sleeps.usualRatePerHour()); !forecast.empty())
            lines << QString::fromStdString(forecast);
    sleepLine_->setText(lines.join('\n'));
    sleepLine_->setVisible(!lines.isEmpty());

    const std::optional<double> end =
        sleeps.lastRecord() ? std::optional<double>(sleeps.lastRecord()->end) : std::nullopt;
    if (sleepsShown_ && end == shownRecordEnd_ && lidRecords == shownLidRecords_)
        return;
    sleepsShown_ = true;
    shownRecordEnd_ = end;
    shownLidRecords_ = lidRecords;
    sleepsPane_->showRecords(sleeps.ledger().newest(SleepsPane::kMostRows));
}

void MainWindow::setHistoryReader(HistoryReader reader)
{
    history_ = std::move(reader);
    refreshHistory();
}

// Only the tab on screen reads: 30 days of samples are not read for a
// window that shows the figures, or none at all.
void MainWindow::refreshHistory()
{
    QWidget* current = onScreen_ ? tabs_->currentWidget() : nullptr;
    if (current == graphPane_) {
        graphPane_->refresh(history_, wattsBox_->isChecked() ? RateUnit::Watts : RateUnit::PercentPerHour);
        if (!graphTimer_->isActive())
            graphTimer_->start();
        return;
    }
    graphTimer_->stop();
    if (current == dischargesPane_)
        showDischarges();
    else if (current == healthPane_)
        showHealth();
    else if (current == appsPane_)
        appsPane_->refresh(history_);
}

// Each discharge's applications by the model of now: the one that knows the
// most, and the same for every row.
void MainWindow::showDischarges()
{
    std::vector<DischargeRecord> records = history_.discharges ? history_.discharges() : std::vector<DischargeRecord>();
    if (!history_.activity || !history_.model) {
        dischargesPane_->showRecords(std::move(records));
        return;
    }
    const PowerModel model = history_.model();
    dischargesPane_->showRecords(std::move(records), [this, &model](double start, double end) {
        QStringList names;
        for (const std::string& name : largestApplications(model, history_.activity(start, end), 3))
            names << QString::fromStdString(name);
        return names.join(QStringLiteral(", "));
    });
}

// One sample at a time: a year of samples at once would be some 80 MB.
void MainWindow::showHealth()
{
    constexpr double kKeptDays = 400;
    std::vector<CapacityPoint> points;
    const double now = readerNow(history_);
    if (history_.eachSample)
        history_.eachSample(now - (kKeptDays + 30) * 86400, now,
                            [&points](const HistorySample& sample) { addCapacityPoint(points, sample); });
    healthPane_->showTrend(healthTrend(std::move(points)));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!closeConfirmed_ && trayAvailable && !trayAvailable()) {
        const QString choice = settings_.closeWithoutTray();
        if (choice != QLatin1String("hide")) {
            event->ignore();
            if (choice == QLatin1String("quit"))
                emit quitRequested();
            else
                askHowToClose();
            return;
        }
    }
    closeConfirmed_ = false;
    keepGeometry();
    controller_.windowWillClose();
    event->accept();
}

// Not modal: the monitor goes on ticking while the question waits.
void MainWindow::askHowToClose()
{
    if (!closeQuestion_) {
        closeQuestion_ =
            new QMessageBox(QMessageBox::Question, tr("Close Window"),
                            tr("This desktop has no tray to bring the window back from."), QMessageBox::Cancel, this);
        closeQuestion_->setObjectName("closeWithoutTray");
        closeQuestion_->setInformativeText(
            tr("Drainwatch can count on without a window: run drainwatch again, or start it from the applications "
               "menu, and the window comes back. Or quit it; the count is saved."));
        QPushButton* keep = closeQuestion_->addButton(tr("Keep Counting"), QMessageBox::AcceptRole);
        keep->setObjectName("keepCounting");
        closeQuestion_->addButton(tr("Quit"), QMessageBox::DestructiveRole)->setObjectName("quit");
        closeQuestion_->setDefaultButton(keep);
        closeQuestion_->setCheckBox(new QCheckBox(tr("Do not ask again"), closeQuestion_));
        closeQuestion_->setWindowModality(Qt::NonModal);
        connect(closeQuestion_, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) {
            const QString role = button->objectName();
            if (role != QLatin1String("keepCounting") && role != QLatin1String("quit"))
                return;
            const bool remember = closeQuestion_->checkBox()->isChecked();
            if (role == QLatin1String("quit")) {
                if (remember)
                    settings_.setCloseWithoutTray(QStringLiteral("quit"));
                emit quitRequested();
                return;
            }
            if (remember)
                settings_.setCloseWithoutTray(QStringLiteral("hide"));
            closeConfirmed_ = true;
            close();
        });
    }
    closeQuestion_->show();
    closeQuestion_->raise();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    followVisibility();
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    followVisibility();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        followVisibility();
}

// Minimising counts as leaving the screen; showing, raising after a close and
// restoring from the task bar as appearing. Repeated events change nothing.
void MainWindow::followVisibility()
{
    const bool onScreen = isVisible() && !isMinimized();
    if (onScreen == onScreen_)
        return;
    onScreen_ = onScreen;
    refreshHistory();
    if (onScreen)
        controller_.viewDidAppear();
    else
        controller_.viewDidDisappear();
}

} // namespace drainwatch
