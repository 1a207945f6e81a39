#include "sdk/reason_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sdk/reason_codes.h"
#include "text/cp1251.h"

TEST(ReasonText, EveryCodeHasItsOwnWordsInBothLanguages) {
    std::set<std::string> english, russian;
    for (int code = SDK_OK; code <= SDK_RC_RATE_LIMITED; ++code) {
        EXPECT_STRNE(reasonWords(code), reasonWords(-1)) << "code " << code;
        EXPECT_NE(reasonWordsRussian(code), reasonWordsRussian(-1)) << "code " << code;
        english.insert(reasonWords(code));
        russian.insert(reasonWordsRussian(code));
    }
    const std::size_t codes = SDK_RC_RATE_LIMITED + 1;
    EXPECT_EQ(english.size(), codes);
    EXPECT_EQ(russian.size(), codes);
}

TEST(ReasonText, KnownAndUnknownCodes) {
    struct Case {
        int code;
        const char* withWords;
        const char* russianUtf8;
    };
    const Case cases[] = {
        {18, "18 (not allowed: the session lacks the right)",
         "не разрешено: у сеанса нет такого права"},
        {21, "21 (too many lines: the world's flood limit)",
         "слишком много строк: сработало ограничение мира на частоту сообщений"},
        {-1, "-1 (unknown reason)", "неизвестная причина"},
        {22, "22 (unknown reason)", "неизвестная причина"},
        {1000000, "1000000 (unknown reason)", "неизвестная причина"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reasonWithWords(c.code), c.withWords);
        // Windows-1251 bytes, one per letter, not the source's UTF-8.
        EXPECT_EQ(reasonWordsRussian(c.code), utf8ToCp1251(c.russianUtf8)) << c.code;
    }
}
