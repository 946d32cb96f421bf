#include "buffer/edithexform.h"

#include "shell/fonts.h"
#include "shell/windowplacement.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

TEditHexForm::TEditHexForm(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint),
      DisHexFile_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("EditHexForm"));
    setWindowTitle(QStringLiteral("EditHexForm"));
    setFixedSize(487, 311);

    DisHexFile_->setObjectName(QStringLiteral("DisHexFile"));
    DisHexFile_->setLineWrapMode(QPlainTextEdit::NoWrap);
    DisHexFile_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DisHexFile_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DisHexFile_->setFont(mingPixelFont(15));
    QPalette palette = DisHexFile_->palette();
    palette.setColor(QPalette::Base, QColor(166, 202, 240)); // sky blue
    palette.setColor(QPalette::Text, Qt::black);
    DisHexFile_->setPalette(palette);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(DisHexFile_);
}

void TEditHexForm::setLines(const QStringList& lines) {
    DisHexFile_->setUpdatesEnabled(false);
    DisHexFile_->setPlainText(lines.join(u'\n'));
    DisHexFile_->setUpdatesEnabled(true);
}

void TEditHexForm::clear() { DisHexFile_->clear(); }

void TEditHexForm::appendLine(const QString& line) { DisHexFile_->appendPlainText(line); }

QStringList TEditHexForm::lines() const {
    QStringList out;
    if (DisHexFile_->document()->isEmpty()) return out;
    for (QTextBlock block = DisHexFile_->document()->begin(); block.isValid(); block = block.next())
        out << block.text();
    return out;
}

void TEditHexForm::bringUp() {
    // Centred on its owner the first time; afterwards it stays where the user put it.
    const bool first = !testAttribute(Qt::WA_WState_ExplicitShowHide);
    showStayOnTop(this, first ? parentWidget() : nullptr);
}
