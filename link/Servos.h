#pragma once

#include "link/Frames.h"

#include <array>
#include <string_view>

// The robot's 17 servos as the controller numbers them, in the order the single-servo list
// shows them, each with the body-part frame and slot (1-based) that drive the same joint, and
// the range and start position of the main window's slider for it.
namespace Servos {

struct Servo
{
    int number;
    std::string_view name;
    Frames::Kind bodyPart;
    int slot;
    int low, high, home;
};

inline constexpr std::array<Servo, 17> All{{
    {18, "Right eyebrow", Frames::Eyebrows, 2, 10, 60, 45},
    {20, "Left eyebrow", Frames::Eyebrows, 1, 10, 60, 45},
    {17, "Right eye yaw", Frames::Eyes, 2, 26, 64, 45},
    {16, "Left eye yaw", Frames::Eyes, 1, 26, 64, 45},
    {15, "Eyes Pitch", Frames::Eyes, 3, 25, 65, 45},
    {11, "Right Mouth Up", Frames::Mouth, 3, 20, 70, 45},
    {14, "Right Mouth Bottom", Frames::Mouth, 4, 20, 70, 45},
    {13, "Left Mouth Up", Frames::Mouth, 1, 20, 70, 45},
    {12, "Left Mouth Bottom", Frames::Mouth, 2, 20, 70, 45},
    {1, "Right Elbow", Frames::RightArm, 1, 0, 90, 0},
    {2, "Right Shoulder Yaw", Frames::RightArm, 2, 0, 90, 0},
    {3, "Right Shoulder Pitch", Frames::RightArm, 3, 0, 180, 0},
    {6, "Left Elbow", Frames::LeftArm, 1, 0, 90, 0},
    {7, "Left Shoulder Yaw", Frames::LeftArm, 2, 0, 90, 0},
    {4, "Left Shoulder Pitch", Frames::LeftArm, 3, 0, 180, 0},
    {9, "Neck Pitch", Frames::Neck, 1, 67, 113, 90},
    {8, "Neck Yaw", Frames::Neck, 2, 50, 130, 90},
}};

} // namespace Servos
