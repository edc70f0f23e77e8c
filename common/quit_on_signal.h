#pragma once

class QObject;

// Makes SIGINT, SIGTERM and SIGHUP end the event loop with exit code 0, as the panel's close box
// does, so that what the program does after its loop runs: the window's shut-down, the serial
// ports closed and their lock files released. Qt Core alone. Does nothing where the platform has
// no such signals.
void quitOnTerminationSignals(QObject* parent);

// Whether such a signal has arrived. One that arrives while a modal box runs before the main
// event loop has started ends that box's loop only; the caller must then not start the main
// loop.
bool terminationRequested();
