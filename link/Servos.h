#pragma once

#include "link/Frames.h"

#include <array>
#include <string_view>

// The robot's 17 servos as the controller numbers them, in the order the single-servo list
// shows them, each with the body-part frame and slot (1-based) that drive the same joint.
namespace Servos {

struct Servo
{
    int number;
    std::string_view name;
    Frames::Kind bodyPart;
    int slot;
};

inline constexpr std::array<Servo, 17> All{{
    {18, "Right eyebrow", Frames::Eyebrows, 2},
    {20, "Left eyebrow", Frames::Eyebrows, 1},
    {17, "Right eye yaw", Frames::Eyes, 2},
    {16, "Left eye yaw", Frames::Eyes, 1},
    {15, "Eyes Pitch", Frames::Eyes, 3},
    {11, "Right Mouth Up", Frames::Mouth, 3},
    {14, "Right Mouth Bottom", Frames::Mouth, 4},
    {13, "Left Mouth Up", Frames::Mouth, 1},
    {12, "Left Mouth Bottom", Frames::Mouth, 2},
    {1, "Right Elbow", Frames::RightArm, 1},
    {2, "Right Shoulder Yaw", Frames::RightArm, 2},
    {3, "Right Shoulder Pitch", Frames::RightArm, 3},
    {6, "Left Elbow", Frames::LeftArm, 1},
    {7, "Left Shoulder Yaw", Frames::LeftArm, 2},
    {4, "Left Shoulder Pitch", Frames::LeftArm, 3},
    {9, "Neck Pitch", Frames::Neck, 1},
    {8, "Neck Yaw", Frames::Neck, 2},
}};

} // namespace Servos
