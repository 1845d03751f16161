#pragma once

#include <array>

// The windows as designed, in twips: left, top, width, height, relative to the client area
// or to the frame that holds the control. Written out from the design, not taken from the
// program, so a control that drifts shows up.
struct Twips
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct DesignedControl
{
    const char* window;
    const char* name;
    const char* container; // the window's client area when empty
    Twips rect;
};

struct DesignedClient
{
    const char* window;
    int width;
    int height;
};

inline constexpr std::array<DesignedClient, 4> kClients = {{
    {"Form1", 5052, 3396},
    {"Form2", 5952, 2076},
    {"Form3", 3012, 2532},
    {"Form4", 5952, 3540},
}};

inline constexpr std::array<DesignedControl, 31> kControls = {{
    {"Form1", "Drive1", "", {120, 0, 2172, 276}},
    {"Form1", "Dir1", "", {120, 360, 2172, 2928}},
    {"Form1", "File1", "", {2400, 0, 2532, 3312}},
    {"Form2", "ProgressBar1", "", {300, 240, 5352, 252}},
    {"Form2", "Command2", "", {1440, 660, 1092, 372}},
    {"Form2", "Command1", "", {3360, 660, 1092, 372}},
    {"Form2", "Label1", "", {240, 1200, 5415, 735}},
    {"Form3", "Frame1", "", {120, 120, 1572, 1812}},
    {"Form3", "Option1", "Frame1", {240, 240, 1212, 180}},
    {"Form3", "Option2", "Frame1", {240, 480, 1212, 180}},
    {"Form3", "Option3", "Frame1", {240, 720, 1212, 180}},
    {"Form3", "Option4", "Frame1", {240, 960, 1212, 180}},
    {"Form3", "Option5", "Frame1", {240, 1200, 1212, 180}},
    {"Form3", "Option6", "Frame1", {240, 1440, 1212, 180}},
    {"Form3", "Frame2", "", {1800, 120, 1092, 1332}},
    {"Form3", "Option7", "Frame2", {240, 240, 732, 180}},
    {"Form3", "Option8", "Frame2", {240, 480, 732, 180}},
    {"Form3", "Option9", "Frame2", {240, 720, 732, 180}},
    {"Form3", "Option10", "Frame2", {240, 960, 732, 180}},
    {"Form3", "Command1", "", {240, 2040, 1092, 372}},
    {"Form3", "Command2", "", {1680, 2040, 1092, 372}},
    {"Form4", "lblFileName", "", {240, 240, 2000, 288}},
    {"Form4", "txtFileName", "", {2280, 204, 3432, 360}},
    {"Form4", "chkOverwrite", "", {2280, 648, 3432, 288}},
    {"Form4", "lblSilence", "", {240, 1092, 2000, 288}},
    {"Form4", "spnSilence", "", {2280, 1056, 1092, 360}},
    {"Form4", "lblPort", "", {240, 1500, 5472, 288}},
    {"Form4", "Command2", "", {1440, 1920, 1092, 372}},
    {"Form4", "Command1", "", {3360, 1920, 1092, 372}},
    {"Form4", "lblCount", "", {240, 2460, 5472, 288}},
    {"Form4", "lblOutcome", "", {240, 2820, 5472, 576}},
}};

// Exact pixels for a length in twips at a dots-per-inch value.
[[nodiscard]] inline double twipsAt(double twips, double dpi)
{
    return twips * dpi / 1440.0;
}
