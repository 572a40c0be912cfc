// What the models need of the window while they work: a line for the
// activity log, a text for the status panel, and a moment in which pending
// window events may run. The models borrow these through plain pointers and
// do nothing where a pointer is unset, so they never depend on a GUI toolkit.
#pragma once

#include <string>

class TActivityLog
{
public:
    virtual ~TActivityLog() = default;
    // Appends Text as one line at the end of the log.
    virtual void AddLine(const std::string& Text) = 0;
};

class TStatusPanel
{
public:
    virtual ~TStatusPanel() = default;
    // Replaces the text of the panel.
    virtual void SetText(const std::string& Text) = 0;
};

class TEventPump
{
public:
    virtual ~TEventPump() = default;
    // Lets the window handle every event that is waiting (repaints, input),
    // then returns.
    virtual void ProcessMessages() = 0;
};
