#include "shell/aboutform.h"

#include "shell/fonts.h"
#include "shell/toolbaricons.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QMouseEvent>

LinkLabel::LinkLabel(const QString& text, const QUrl& url, QWidget* parent) : QLabel(text, parent), url_(url) {
    setCursor(Qt::PointingHandCursor);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    setPalette(palette);
    QFont f = font();
    f.setPointSize(10);
    f.setUnderline(true);
    setFont(f);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        QDesktopServices::openUrl(url_);
    QLabel::mouseReleaseEvent(event);
}

QUrl TForm3::userGuideAddress(const QString& programFolder) {
    const QDir folder(programFolder);
    const QString installed = folder.absoluteFilePath(QStringLiteral("../share/doc/chipwright/user-guide.html"));
    if (QFileInfo::exists(installed)) return QUrl::fromLocalFile(QDir::cleanPath(installed));
    return QUrl::fromLocalFile(folder.absoluteFilePath(QStringLiteral("doc/user-guide.html")));
}

TForm3::TForm3(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Help"));
    setFixedSize(339, 176);

    auto* box = new QGroupBox(this);
    box->setGeometry(0, 0, 339, 176);

    auto* picture = new QLabel(box);
    picture->setGeometry(16, 64, 41, 41);
    picture->setPixmap(chipwrightIcon().pixmap(41, 41));

    const QStringList lines = {
        QStringLiteral("Chipwright V2.0  (c) 2026"),
        QStringLiteral("For serial 8051 flash programmers"),
        QStringLiteral("Made by the Chipwright developers"),
        QStringLiteral("更多資料請看隨程式附上的使用說明："),
    };
    for (int i = 0; i < lines.size(); ++i) {
        auto* label = new QLabel(lines[i], box);
        label->setFont(i == 3 ? newMingFont(9) : sansFont(9));
        label->setGeometry(80, 8 + 32 * i, 257, 33);
    }
    link_ = new LinkLabel(QStringLiteral("使用說明 (User guide)"),
                          userGuideAddress(QCoreApplication::applicationDirPath()), box);
    link_->setObjectName(QStringLiteral("WebLink"));
    link_->setGeometry(80, 136, 257, 33);
}
