#pragma once

#include <QMainWindow>
#include <memory>

namespace vistamo {

class ScannerController;

// The application's main window; its content is the scanner's view. Closing it saves the alarm
// options and ends the application: the window itself never closes on its own.
//
// It tells the scanner when its view appears and disappears. Main thread only.
class ScannerWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kInitialWidth = 640;
    static constexpr int kInitialHeight = 480;

    explicit ScannerWindow(std::weak_ptr<ScannerController> scanner, QWidget* parent = nullptr);
    ~ScannerWindow() override;

    // The content view controller; none when the scanner has gone.
    std::shared_ptr<ScannerController> scanner() const { return scanner_.lock(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Main thread only.
    std::weak_ptr<ScannerController> scanner_;
};

}  // namespace vistamo
