#pragma once

#include <QString>

// An answer's text as a failure text quotes it to the user (and the log keeps it): a short one as
// it is; a longer one, most likely a server's error page, as the start of its words, with the
// markup and the runs of white space taken out, ending in "…".
class AnswerExcerpt {
public:
    static constexpr qsizetype maxCharacters = 200;

    static QString of(const QString& text);
};
