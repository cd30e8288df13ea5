#pragma once

#include <QMainWindow>
#include <memory>

namespace vistamo {

class ZScanner;

// The application's main window; its content is the scanner's view. Closing it saves the alarm
// options and ends the application: the window itself never closes on its own.
//
// It tells the scanner when its view appears and disappears. Main thread only.
class ZScannerWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kInitialWidth = 640;
    static constexpr int kInitialHeight = 480;

    explicit ZScannerWindow(std::weak_ptr<ZScanner> scanner, QWidget* parent = nullptr);
    ~ZScannerWindow() override;

    // The content view controller; none when the scanner has gone.
    std::shared_ptr<ZScanner> scanner() const { return scanner_.lock(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Main thread only.
    std::weak_ptr<ZScanner> scanner_;
};

}  // namespace vistamo
