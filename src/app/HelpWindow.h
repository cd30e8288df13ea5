#pragma once

#include <QWidget>
#include <string>

class QTextBrowser;

namespace vistamo {

// The help window: our help page from the resource folder, in a browser that follows links
// between local pages and opens outside links (web, mail) in the desktop's own programs. A
// missing or unreadable page leaves the window empty and usable. Main thread only.
class HelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent = nullptr);
    ~HelpWindow() override;

    // The page the window shows: the resource named by the text "HELP_FILE" plus ".html".
    static std::string helpPagePath();

    // Shows the page at `path`; false, with a log line, when it cannot be read (the window
    // is then empty).
    bool loadPage(const std::string& path);

    QTextBrowser* web() const { return web_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Main thread only; the browser belongs to the window.
    QTextBrowser* web_ = nullptr;
};

}  // namespace vistamo
