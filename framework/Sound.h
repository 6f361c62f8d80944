// Sounds by name.  A sound is a wave file "<name>.wav" in the resources
// folder, or a system sound taken from the desktop's sound theme.  Sounds
// go to the desktop's sound service (PulseAudio, or PipeWire speaking its
// protocol) from a thread of their own: the caller never waits for the
// service, and without a service nothing plays and nothing is printed.
#pragma once

#include <string>

namespace fw {

class Sound {
public:
    static void SetResourceDir(const std::string& dir);
    static const std::string& ResourceDir();
    // The file of a named sound; empty when there is none.
    static std::string Find(const std::string& name);
    // Queues the named sound; false when there is no such sound.  Whether
    // a sound service is there to play it is not known here.
    static bool PlayResource(const std::string& name);
    // A system sound such as "SystemAsterisk": the resources' wave of that
    // name when there is one, otherwise the matching sound of the desktop's
    // theme.  False for a name without either.
    static bool PlaySystem(const std::string& name);

    // Sounds queued and not yet handed to the sound service.  The queue is
    // short: while the service does not answer, further sounds are dropped.
    static int Pending();
    // Waits until every queued sound has been handed over (or given up);
    // false when that takes longer than iTimeoutMs.
    static bool WaitIdle(int iTimeoutMs);
};

} // namespace fw
