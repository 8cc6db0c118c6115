// The program's spine: start-up, the main menu and the orderly shutdown.
#pragma once

#include <string>

namespace ondaria {

inline constexpr const char* kVersionText = "3.0";
inline constexpr const char* kWindowTitle = "Ondaria";
// Option letters in menu order, then ESC.
inline constexpr const char* kMainOptionLetters = "PFEIRCDATBN\x1B";

// Brings up the console, speech, the stream player and the sockets layer and
// locates the station list file. `spokenGreeting` is false in command-line mode.
void startUp(bool spokenGreeting);
// Runs the main menu until ESC at the main question.
void mainMenu();
// Exit status of a run that could not open any sound output.
inline constexpr int kExitNoAudio = 1;

// Undoes start-up in reverse and ends the process with `exitStatus`; never
// returns.
[[noreturn]] void finishProgram(bool sayGoodbye, int exitStatus = 0);

void showGreeting(bool spoken);
// The pop-up list of the main options; returns an option letter or ESC (27).
char chooseMainOption();
// Speaks the list of options (F1), then discards waiting keys and beeps.
void sayMainHelp();

// Program entry: plays the first argument when there is one, else runs the menu.
int programMain(int argc, char** argv);

}  // namespace ondaria
