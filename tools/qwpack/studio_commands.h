#pragma once
// The studio commands of qwpack: make-updater, check and plan. Each takes the arguments after
// its name and returns the exit status (0 done, 1 failed or found problems, 2 bad command line).

int MakeUpdaterCommand(int argc, char** argv);
int CheckCommand(int argc, char** argv);
int PlanCommand(int argc, char** argv);
