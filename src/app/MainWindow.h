#pragma once

#include "app/QtCheckBox.h"
#include "app/QtTextField.h"
#include "app/SleepsPane.h"
#include "monitor/ViewController.h"

#include <QMainWindow>

#include <memory>
#include <vector>

class QCheckBox;
class QLabel;

namespace drainwatch {

// The monitor's one window, built in code: the nine texts with captions, the
// watts check box, Reset and Show Log, and a status line. Its child widgets
// carry their outlet names as object names. Closing only hides it.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Connects the controller's outlets; construct before its viewDidLoad.
    MainWindow(ViewController& controller, const QString& title);

    // Opens the log; says in the status line when that fails.
    bool showLog();
    // The last sleep and the forecast under the figures, and the sleeps'
    // table when a new record came.
    void showSleeps(const SleepTracker& sleeps, std::optional<double> charge);

signals:
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildContent();
    void buildMenu();
    void followVisibility();

    ViewController& controller_;
    std::vector<std::unique_ptr<QtTextField>> fields_;
    QCheckBox* wattsBox_ = nullptr;
    std::unique_ptr<QtCheckBox> wattsOutlet_;
    bool onScreen_ = false;
    QLabel* sleepLine_ = nullptr;
    SleepsPane* sleepsPane_ = nullptr;
    std::optional<double> shownRecordEnd_;
    bool sleepsShown_ = false;
};

} // namespace drainwatch
