#pragma once
// Answers the program's message boxes and questions from a script and records them, so a
// test can assert every box shown, in order, with its title.

#include "Dialogs.h"
#include "SimulationReport.h"
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

struct TShownBox {
    enum Kind { Message, Question } kind;
    QString text;
    QString title;
    bool operator==(const TShownBox& o) const { return kind == o.kind && text == o.text && title == o.title; }
};

class TFakeDialogs : public TDialogs {
public:
    void ShowMessage(const QString& text, const QString& title) override {
        shown.push_back({TShownBox::Message, text, title});
    }
    bool Confirm(const QString& text, const QString& title) override {
        shown.push_back({TShownBox::Question, text, title});
        if (answers.empty()) return defaultAnswer;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    // A simulation's result is recorded whole, and its box in the list as "Simulação".
    void ShowSimulation(const TSimulationReport& report) override {
        shown.push_back({TShownBox::Message, QStringLiteral("Simulação"), QStringLiteral("Simulação da alteração")});
        simulations.push_back(report);
    }
    // Texts of every box shown, in order.
    QStringList texts() const {
        QStringList out;
        for (const auto& b : shown) out << b.text;
        return out;
    }
    void clear() { shown.clear(); }

    std::vector<TShownBox> shown;
    std::vector<TSimulationReport> simulations;
    std::deque<bool> answers;   // scripted answers to Confirm, front first
    bool defaultAnswer = true;  // when the script has run out
};
