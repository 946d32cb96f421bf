#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

// The hex text window: one plain-text editor holding the dump of the code buffer or of what was read from the
// chip. The user may type into it; Save writes its text. Closing it only hides it.
class TEditHexForm : public QWidget {
    Q_OBJECT
public:
    explicit TEditHexForm(QWidget* owner);

    QPlainTextEdit* DisHexFile() const { return DisHexFile_; }

    // Replaces the whole text in one update, so the editor repaints once.
    void setLines(const QStringList& lines);
    void clear();
    void appendLine(const QString& line);
    QStringList lines() const;

    // The Edit command: show as a stay-on-top window and bring it forward.
    void bringUp();

private:
    QPlainTextEdit* DisHexFile_;
};
