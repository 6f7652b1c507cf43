#include "app/AnswerExcerpt.h"

#include <QRegularExpression>

QString AnswerExcerpt::of(const QString& text)
{
    if (text.size() <= maxCharacters)
        return text;
    static const QRegularExpression unseen(QStringLiteral("<(script|style)\\b.*?</\\1\\s*>"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    QString words = text;
    words.remove(unseen);
    words.replace(tag, QStringLiteral(" "));
    words = words.simplified();
    if (words.size() <= maxCharacters)
        return words;
    qsizetype cut = maxCharacters;
    if (words.at(cut - 1).isHighSurrogate())
        --cut;
    return words.left(cut) + QStringLiteral("…");
}
