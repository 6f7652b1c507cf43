#pragma once

// Settings with a line break in a field that curl sends to an FTP server, and the refusal each must
// get before curl runs: curl ends its USER and PASS lines at the break and would send the rest as a
// command of its own once signed in.
#include "app/ServerSettings.h"

#include <QString>

#include <functional>
#include <vector>

namespace test {

struct FtpRefusalCase {
    const char* what;
    std::function<void(ServerSettings&)> change;
    const char* refusal;
};

inline std::vector<FtpRefusalCase> ftpLineBreakRefusals(const QString& user, const QString& password, const QString& directory)
{
    return {
        {"line break in the password", [password](ServerSettings& s) { s.ftpPassword = password + "\r\nMKD injected"; },
         "Пароль содержит недопустимые символы"},
        {"line feed in the user name", [user](ServerSettings& s) { s.ftpUsername = user + "\nMKD injected"; },
         "Имя пользователя содержит недопустимые символы"},
        {"line break in the directory", [directory](ServerSettings& s) { s.ftpDirectory = directory + "\r\nMKD injected"; },
         "Путь к папке на сервере содержит недопустимые символы"},
    };
}

} // namespace test
