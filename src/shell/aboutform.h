#pragma once

#include <QLabel>
#include <QUrl>
#include <QWidget>

// A label that opens its address in the desktop's default browser when clicked.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, const QUrl& url, QWidget* parent);
    const QUrl& url() const { return url_; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QUrl url_;
};

// The about window (caption "Help"): the program's name and version, how to reach its makers, and a link.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* owner);

    LinkLabel* link() const { return link_; }
    // The user guide that comes with the program: installed, the copy in the package's documentation folder
    // (<prefix>/share/doc/chipwright/user-guide.html beside <prefix>/bin); run from the build tree, the copy
    // the build put in its doc folder. programFolder: where the executable is.
    static QUrl userGuideAddress(const QString& programFolder);

private:
    LinkLabel* link_;
};
