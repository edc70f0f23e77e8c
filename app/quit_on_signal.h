#pragma once

class QObject;

// Makes SIGINT, SIGTERM and SIGHUP end the event loop as the close box does, so that the
// window's shut-down runs and the serial port and its lock file are released. Does nothing
// where the platform has no such signals.
void quitOnTerminationSignals(QObject* parent);

// Whether such a signal has arrived. One that arrives while a modal box runs before the main
// event loop has started ends that box's loop only; the caller must then not start the main
// loop.
bool terminationRequested();
