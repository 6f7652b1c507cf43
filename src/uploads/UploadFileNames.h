#pragma once

#include <QString>

// Names of uploaded files, and the public links of those stored on the user's own server.
class UploadFileNames {
public:
    // "screenshot_" + secondsSince1970Text() + ".png"
    static QString screenshot();
    // The current time in seconds since 1970, in the shortest decimal form that reads back to the
    // same double, always with a fractional part: "1733822222.25", "1733822222.0".
    static QString secondsSince1970Text();
    static QString secondsText(double seconds);

    // The last name of a remote directory, trailing slashes ignored: "/pub/videos/" and
    // "/pub/videos" both give "videos"; empty for "", "/" or "///".
    static QString lastDirectoryName(const QString& directory);
    // The link of a file stored in `directory`: the Base URL less one trailing "/", then "/" + the
    // directory's last name when it has one, then "/" + the file name.
    static QString ownServerLink(const QString& baseURL, const QString& directory, const QString& fileName);
};
