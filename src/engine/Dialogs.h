#pragma once
#include <QString>

// Every message box and question of the program goes through this, so that tests answer
// them with a scripted fake and the engine never touches a widget.
class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Modal box with the error icon and a single OK button.
    virtual void ShowMessage(const QString& text, const QString& title) = 0;
    // Modal box with the question icon, Yes and No, No the default. True only for Yes.
    virtual bool Confirm(const QString& text, const QString& title) = 0;
};
