#pragma once

#include <string>

namespace serial {

// How the program that holds a port speaks of itself in the port's messages, so that each
// program says what it itself does. The defaults are the panel's words.
struct ProgramWords {
    // The program as the messages name it: "The user running the panel needs ...", "... set
    // PROJECTOR_COM1 before starting the panel".
    std::string program = "the panel";
    // The last sentence of the report of a lost port: what the program does about it.
    std::string afterLoss = "The panel reconnects by itself as soon as the device is back.";
};

}  // namespace serial
