// Where the prolog lexer finds the root element's start tag: past every
// kind of declaration, comment and instruction, whatever their quoted
// literals and the internal subset hold, however the text is cut.

#include "platform/itlibrary/internal/XmlProlog.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

constexpr std::size_t kNotYet = XmlPrologLexer::kNotYet;

// Where the root's "<" is, with the text handed over in two pieces cut at
// `cut`, or kNotYet.
std::size_t rootIn(const std::string& text, std::size_t cut) {
    XmlPrologLexer lexer;
    if (const std::size_t at = lexer.scan(std::string_view(text).substr(0, cut)); at != kNotYet) return at - 1;
    const std::size_t at = lexer.scan(std::string_view(text).substr(cut));
    return at == kNotYet ? kNotYet : cut + at - 1;
}

TEST(XmlPrologLexer, TheRootIsTheFirstTagPastTheDeclarationsWhereverTheTextIsCut) {
    const std::string prologs[] = {
        "",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
        "<?xml version='1.0'?><?pi a > b <c>?>\n",
        "<!-- -> <plist> > -->\n<!---->",
        "<!DOCTYPE plist PUBLIC \"-//x>//EN\" 'y>[.dtd'>\n",
        "<!DOCTYPE plist [\n<!ENTITY a \"<plist>]>\">\n<!-- ] > <x> -->\n<?pi ]> <x>?>\n"
        "<!ELEMENT plist ANY>\n<!ATTLIST plist v CDATA '<x>'>\n]>\n",
        "<!DOCTYPE plist PUBLIC 'a' 'b' [ ] >\n<!-- after -->\n",
    };
    for (const std::string& prolog : prologs) {
        const std::string text = prolog + "<plist version=\"1.0\"><dict/></plist>";
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            ASSERT_EQ(rootIn(text, cut), prolog.size()) << prolog << " cut at " << cut;
        }
    }
}

TEST(XmlPrologLexer, AnUnendedDeclarationHidesEveryTagAfterIt) {
    for (const char* text : {"<?xml version=\"1.0\"?> ", "<!-- <plist>", "<?pi <plist>", "<!DOCTYPE plist \"<plist>",
                             "<!DOCTYPE plist [ <plist>", "<!DOCTYPE plist [ ']' <plist>"}) {
        EXPECT_EQ(rootIn(text, 0), kNotYet) << text;
    }
}

}  // namespace
}  // namespace platform
