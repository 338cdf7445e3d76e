#pragma once

#include <QByteArrayView>
#include <QString>

// What a frame on the line means, in words, for the traffic monitor: "neck: pitch 96 speed 20,
// yaw 108 speed 20", "battery 1 7.2 V, battery 2 7.3 V". Body parts, slots and servo names
// come from the frame and servo tables, so the words follow any change there.
namespace Frame_Text {

enum class Kind { Move, Query, Reply, Unknown };

// A frame the panel wrote.
Kind sentKind(QByteArrayView frame);
QString sent(QByteArrayView frame);
// A reply the panel took in.
QString received(QByteArrayView frame);

} // namespace Frame_Text
