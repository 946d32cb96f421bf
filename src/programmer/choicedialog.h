#pragma once

#include <QWidget>

#include <functional>

class QPushButton;
class RadioGroup;

// A modeless dialog holding one radio group with a confirm ("確定") and a cancel ("取消") button. The choice
// takes effect only on confirm, which hides the dialog and hands the selected index (-1 when none) on; cancel
// only hides it, and the group keeps whatever the user picked.
class ChoiceDialog : public QWidget {
    Q_OBJECT
public:
    struct Layout {
        QString objectName;
        QString title;
        QString groupName;
        QString groupCaption;
        QStringList items;
        int columns;
        QSize size;
        Qt::WindowFlags flags;
    };
    ChoiceDialog(QWidget* owner, const Layout& layout, int savedIndex, std::function<void(int)> onConfirm);

    QPushButton* Button1() const { return Button1_; }
    QPushButton* Button2() const { return Button2_; }

    void Button1Click();
    void Button2Click();

protected:
    RadioGroup* group() const { return group_; }

private:
    RadioGroup* group_;
    QPushButton* Button1_;
    QPushButton* Button2_;
    std::function<void(int)> onConfirm_;
};
