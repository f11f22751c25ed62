#pragma once
// The commands: each drives a session as the window does, answering its questions with yes
// (the command line is the confirmation), and returns its exit code.

struct TArguments;
class TReport;

int RunVerify(const TArguments& arguments, TReport& report);
int RunSimulate(const TArguments& arguments, TReport& report);
int RunChangeNow(const TArguments& arguments, TReport& report);
int RunSchedule(const TArguments& arguments, TReport& report);
int RunUndo(const TArguments& arguments, TReport& report);
int RunStatus(const TArguments& arguments, TReport& report);
