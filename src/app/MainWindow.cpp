#include "app/MainWindow.h"

#include "app/StatusFields.h"
#include "log/Logger.h"
#include "sleep/SleepText.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace drainwatch {

MainWindow::MainWindow(ViewController& controller, const QString& title) : controller_(controller)
{
    setWindowTitle(title);
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("tabs");
    tabs->addTab(buildContent(), tr("Battery"));
    sleepsPane_ = new SleepsPane(tabs);
    tabs->addTab(sleepsPane_, tr("Sleeps"));
    setCentralWidget(tabs);
    buildMenu();
    statusBar()->setSizeGripEnabled(false);
}

QWidget* MainWindow::buildContent()
{
    auto* content = new QWidget(this);
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
        value->setMinimumWidth(valueWidth);
        caption->setBuddy(value);
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
        fields_.push_back(std::make_unique<QtTextField>(value));
        controller_.*field.member = fields_.back().get();
    }

    wattsBox_ = new QCheckBox(tr("Show watts"), content);
    wattsBox_->setObjectName("useWattsCheckbox");
    wattsOutlet_ = std::make_unique<QtCheckBox>(wattsBox_);
    controller_.useWattsCheckbox = wattsOutlet_.get();
    connect(wattsBox_, &QCheckBox::toggled, this, [this] { controller_.useWattsToggled(); });
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
    column->addSpacing(8);
    column->addLayout(buttons);
    return content;
}

void MainWindow::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(tr("&File"));
    menu->addAction(tr("Show &Log"), QKeySequence(Qt::CTRL | Qt::Key_L), this, [this] { showLog(); });
    menu->addAction(tr("&Reset"), QKeySequence(Qt::CTRL | Qt::Key_R), this, [this] { controller_.resetButtonClicked(); });
    menu->addSeparator();
    menu->addAction(tr("&Close Window"), QKeySequence(Qt::CTRL | Qt::Key_W), this, &QWidget::close);
    menu->addAction(tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, &MainWindow::quitRequested);
}

bool MainWindow::showLog()
{
    if (controller_.showLog()) {
        statusBar()->clearMessage();
        return true;
    }
    statusBar()->showMessage(
        tr("Could not open the log file %1").arg(QString::fromStdString(Logger::main().filePath().string())));
    return false;
}

void MainWindow::showSleeps(const SleepTracker& sleeps, std::optional<double> charge)
{
    QStringList lines;
    if (const auto& record = sleeps.lastRecord())
        lines << QString::fromStdString(lastSleepLine(*record));
    if (charge)
        if (const auto forecast = sleepForecastLine(*charge, sleeps.usualRatePerHour()); !forecast.empty())
            lines << QString::fromStdString(forecast);
    sleepLine_->setText(lines.join('\n'));
    sleepLine_->setVisible(!lines.isEmpty());

    const std::optional<double> end = sleeps.lastRecord() ? std::optional<double>(sleeps.lastRecord()->end) : std::nullopt;
    if (sleepsShown_ && end == shownRecordEnd_)
        return;
    sleepsShown_ = true;
    shownRecordEnd_ = end;
    sleepsPane_->showRecords(sleeps.ledger().newest(SleepsPane::kMostRows));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    controller_.windowWillClose();
    event->accept();
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
    if (onScreen)
        controller_.viewDidAppear();
    else
        controller_.viewDidDisappear();
}

} // namespace drainwatch
