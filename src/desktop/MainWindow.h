// SPDX-License-Identifier: MIT
#pragma once

#include "desktop/AppsPane.h"
#include "desktop/DischargesPane.h"
#include "desktop/GraphPane.h"
#include "desktop/HealthPane.h"
#include "desktop/HistoryReader.h"
#include "desktop/QtCheckBox.h"
#include "desktop/QtFileOpener.h"
#include "desktop/QtTextField.h"
#include "desktop/SleepsPane.h"
#include "desktop/WindowSettings.h"
#include "monitor/ViewController.h"
#include "terminal/HealthInWh.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QMessageBox;
class QLabel;
class QTabWidget;
class QTimer;

namespace drainwatch {

// The monitor's one window, built in code: the nine texts with captions, the
// watts check box, Reset and Show Log, and a status line; tabs beside them
// for the graph, the sleeps, the discharges, the health and the apps. Its child widgets
// carry their outlet names as object names. Closing only hides it. Show
// watts and the window's size and place are kept in its settings.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Connects the controller's outlets; construct before its viewDidLoad.
    MainWindow(ViewController& controller, const QString& title, WindowSettings& settings);

    // Opens the log; says in a message that stays, with the log's path, when
    // that fails.
    bool showLog();
    // Where the reason for a failed open comes from, now and later.
    void setFileOpener(QtFileOpener& opener);
    void reportLogProblem(const QString& reason);
    // Health in Wh for a battery that counts in energy.
    void setEnergyReader(HealthInWh::Reader reader) { health_ = HealthInWh(std::move(reader)); }

    // File > Start at Login, checkable; its state and effect are the
    // desktop app's.
    QAction& startAtLoginAction() { return *startAtLogin_; }
    QAction& suspendWithLidClosedAction() { return *suspendWithLidClosed_; }
    SleepsPane& sleepsPane() { return *sleepsPane_; }

    // Whether the desktop has a tray to bring a closed window back from;
    // without one, closing first says how the window comes back.
    std::function<bool()> trayAvailable;
    // Puts the window's size and place in its settings.
    void keepGeometry();
    // The last sleep and the forecast under the figures, and the sleeps'
    // table when a new record came.
    // lidRecords: the "lid closed" records kept so far, which the tracker does not see.
    void showSleeps(const SleepTracker& sleeps, std::optional<double> charge, int lidRecords = 0);
    // Where the Graph, Discharges, Health and Apps tabs read from; each reads
    // when it is shown, the graph again every minute while it is.
    void setHistoryReader(HistoryReader reader);
    GraphPane& graphPane() { return *graphPane_; }

signals:
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildContent();
    void fitFigures();
    void buildMenu();
    void followVisibility();
    void askHowToClose();
    void refreshHistory();
    void showHealth();
    void showDischarges();

    ViewController& controller_;
    WindowSettings& settings_;
    std::vector<std::unique_ptr<QtTextField>> fields_;
    // The Battery tab, its figures and their narrowest width.
    QWidget* content_ = nullptr;
    std::vector<QLabel*> values_;
    int valueWidth_ = 0;
    int captionWidth_ = 0;
    QCheckBox* wattsBox_ = nullptr;
    std::unique_ptr<QtCheckBox> wattsOutlet_;
    bool onScreen_ = false;
    QtFileOpener* opener_ = nullptr;
    HealthInWh health_;
    QMessageBox* logProblem_ = nullptr;
    QMessageBox* closeQuestion_ = nullptr;
    QAction* startAtLogin_ = nullptr;
    QAction* suspendWithLidClosed_ = nullptr;
    bool closeConfirmed_ = false;
    QLabel* sleepLine_ = nullptr;
    SleepsPane* sleepsPane_ = nullptr;
    std::optional<double> shownRecordEnd_;
    int shownLidRecords_ = 0;
    bool sleepsShown_ = false;
    QTabWidget* tabs_ = nullptr;
    GraphPane* graphPane_ = nullptr;
    DischargesPane* dischargesPane_ = nullptr;
    HealthPane* healthPane_ = nullptr;
    AppsPane* appsPane_ = nullptr;
    HistoryReader history_;
    QTimer* graphTimer_ = nullptr;
};

} // namespace drainwatch
