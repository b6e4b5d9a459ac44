// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "record.h"

#include <QString>

#include <array>

// Plays a raw recording onto a pseudo-terminal at its recorded timing, so that
// the application or any serial tool sees the module as recorded. Reads of the
// register map are answered from the image the recording has built up so far;
// writes go into that image but leave the recorded stream as it is.
class RecordingReplay
{
public:
    struct Options
    {
        QString path; // the raw recording
        double speed = 1; // 2: twice as fast
        bool loop = false; // start over at the end
        QString linkPath; // optional symbolic link to the device
    };
    static constexpr double minSpeed = 0.01;
    static constexpr double maxSpeed = 1000;

    explicit RecordingReplay(const Options &options);
    ~RecordingReplay();
    RecordingReplay(const RecordingReplay &) = delete;
    RecordingReplay &operator=(const RecordingReplay &) = delete;

    // Reads the whole recording (refusing a missing, foreign or damaged file
    // with the reader's message) and opens the pseudo-terminal.
    bool open(QString *error);
    QString slavePath() const;
    const RecordingInfo &info() const { return m_recording.info; }
    // After open(): why the file ends early (it is played up to the damage);
    // empty when it ends cleanly.
    QString damage() const { return m_recording.error; }
    int chunkCount() const;

    // Serves until a byte arrives on `stopFd`. Playing starts when a client
    // opens the device and holds while nobody listens, so nothing recorded is
    // lost. A recording that holds the session's requests plays only while
    // the client has the stream on ("Control1" written non-zero, or not
    // written within a second of opening), as the module did for the session.
    // `onEvent` hears "end of recording" and "starting over".
    void run(int stopFd, void (*onEvent)(const QString &text));

private:
    struct Private;
    Private *d;
    Options m_options;
    RawRecording m_recording;
};
