#pragma once

#include <QString>

// Names of uploaded files.
class UploadFileNames {
public:
    // "screenshot_" + secondsSince1970Text() + ".png"
    static QString screenshot();
    // The current time in seconds since 1970, in the shortest decimal form that reads back to the
    // same double, always with a fractional part: "1733822222.25", "1733822222.0".
    static QString secondsSince1970Text();
    static QString secondsText(double seconds);
};
