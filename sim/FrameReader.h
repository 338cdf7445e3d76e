#pragma once

#include "link/Frames.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// Cuts the byte stream the panel sends into frames, the way the controller reads it: the
// mnemonic alone fixes how many data bytes follow, and nothing in the data is escaped, so
// once a mnemonic is recognised its data bytes are taken as they come. Bytes that do not
// start a known mnemonic are skipped one at a time until the stream is back in step; they
// are handed out as a bad run so that they can be logged.
class FrameReader
{
public:
    struct Event
    {
        QByteArray mnemonic; // empty for bytes that make no frame
        QByteArray data;     // the data bytes, or the bytes that make no frame

        bool isBad() const { return mnemonic.isEmpty(); }
        // "meb 45 0 45 10", or "bad 1 2"
        QString toString() const;
        bool operator==(const Event &) const = default;
    };

    // The frames the controller understands; nullptr for anything else.
    static const Frames::Kind *kindFor(QByteArrayView mnemonic);

    // Takes the bytes of one read and returns the frames they complete, in order, with bad
    // runs before the frame that follows them. An unfinished frame waits for the next read.
    QList<Event> feed(QByteArrayView bytes);

    // Bytes held for a frame (or mnemonic) not yet complete.
    qsizetype pending() const { return m_pending.size(); }

private:
    static bool startsMnemonic(QByteArrayView bytes);

    QByteArray m_pending;
};
