#pragma once
#include <QString>

struct TSimulationReport;

// Every message box and question of the window goes through this, so that tests answer them
// with a scripted fake. These are the only places where the program waits for a person.
class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Modal box with the error icon and a single OK button.
    virtual void ShowMessage(const QString& text, const QString& title) = 0;
    // Modal box with the question icon, Yes and No, No the default. True only for Yes.
    virtual bool Confirm(const QString& text, const QString& title) = 0;
    // The result of a simulation, modal until the operator closes it.
    virtual void ShowSimulation(const TSimulationReport& report) = 0;
    // Closes every box still open (the program is ending under them): a message as with OK,
    // a question as with No.
    virtual void DismissAll() {}
};
