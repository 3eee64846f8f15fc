#include "app/option_parser.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace nembo {
namespace {

// A small command line: value options -x/--name (number), -t/--text
// (string), -c/--color (choices), flags -a, -b, --long-flag, and help.
struct Fixture {
    std::uint64_t number = 5;
    std::uint32_t small = 9;
    std::string text = "start";
    std::string color = "red";
    bool a = false;
    bool b = false;
    bool long_flag = false;
    bool help = false;

    CommandLine cli() {
        CommandLine c;
        c.add(HelpOpt(help))
            .add(Opt(number, "number").name("-x").name("--name").help("A number"))
            .add(Opt(small, "small").name("-m").name("--small"))
            .add(Opt(text, "text").name("-t").name("--text"))
            .add(Opt(color, "color").name("-c").name("--color").choices({"red", "green"}))
            .add(Opt(a).name("-a"))
            .add(Opt(b).name("-b"))
            .add(Opt(long_flag).name("--long-flag").help("A flag"));
        return c;
    }

    ParseResult parse(std::vector<std::string> args, std::string exe = "prog") {
        CommandLine c = cli();
        return c.parse(ArgumentList{std::move(exe), std::move(args)});
    }
};

std::string help_of(const CommandLine& cli) {
    std::ostringstream out;
    out << cli;
    return out.str();
}

TEST(OptionParser, AllValueFormsGiveTheSameValue) {
    const std::vector<std::vector<std::string>> forms = {
        {"--name=42"}, {"--name", "42"}, {"-x42"}, {"-x", "42"}, {"-x=42"}, {"--name 42"}, {"-x 42"},
        {"--name=042"}};
    for (const auto& args : forms) {
        Fixture f;
        const ParseResult r = f.parse(args);
        EXPECT_TRUE(r.is_ok()) << args[0] << ": " << r.message();
        EXPECT_EQ(f.number, 42u) << args[0];
    }
}

TEST(OptionParser, ValueIsTakenVerbatimFromTheNextArgument) {
    Fixture f;
    EXPECT_TRUE(f.parse({"--text", "--name"}).is_ok());
    EXPECT_EQ(f.text, "--name");
    Fixture g;
    EXPECT_TRUE(g.parse({"--text="}).is_ok());  // an empty string is a value
    EXPECT_EQ(g.text, "");
    Fixture h;
    EXPECT_TRUE(h.parse({"-t", ""}).is_ok());
    EXPECT_EQ(h.text, "");
    Fixture i;  // only the first delimiter separates
    EXPECT_TRUE(i.parse({"--text=a=b c"}).is_ok());
    EXPECT_EQ(i.text, "a=b c");
}

TEST(OptionParser, NumberConversion) {
    struct Case {
        std::string value;
        bool ok;
        std::uint64_t expected;
    };
    const std::vector<Case> cases = {
        {"0", true, 0},
        {"007", true, 7},
        {"18446744073709551615", true, 18446744073709551615ull},
        {"18446744073709551616", false, 5},
        {"", false, 5},
        {"-1", false, 5},   {"+1", false, 5},    {" 1", false, 5},
        {"0x10", false, 5}, {"12abc", false, 5},
    };
    for (const Case& c : cases) {
        Fixture f;
        const ParseResult r = f.parse({"--name=" + c.value});
        EXPECT_EQ(r.is_ok(), c.ok) << "'" << c.value << "'";
        EXPECT_EQ(f.number, c.expected) << "'" << c.value << "'";
        if (!c.ok) {
            EXPECT_EQ(r.message(), "Unable to convert '" + c.value + "' to destination type");
        }
    }
    Fixture f;
    EXPECT_TRUE(f.parse({"-m", "4294967295"}).is_ok());
    EXPECT_EQ(f.small, 4294967295u);
    Fixture g;
    EXPECT_EQ(g.parse({"-m", "4294967296"}).message(),
              "Unable to convert '4294967296' to destination type");
    EXPECT_EQ(g.small, 9u);
    Fixture h;
    EXPECT_EQ(h.parse({"-m", "-5"}).message(), "Unable to convert '-5' to destination type");
}

TEST(OptionParser, FlagsAndBundles) {
    Fixture f;
    EXPECT_TRUE(f.parse({"-ab", "--long-flag"}).is_ok());
    EXPECT_TRUE(f.a && f.b && f.long_flag);

    Fixture g;  // a value option at the end of a bundle takes the rest or the next argument
    EXPECT_TRUE(g.parse({"-ax7"}).is_ok());
    EXPECT_TRUE(g.a);
    EXPECT_EQ(g.number, 7u);
    Fixture h;
    EXPECT_TRUE(h.parse({"-ax", "8", "-b"}).is_ok());
    EXPECT_EQ(h.number, 8u);
    EXPECT_TRUE(h.b);

    Fixture i;  // a flag repeated inside a bundle exceeds its maximum
    const ParseResult r = i.parse({"-aa"});
    EXPECT_EQ(r.message(), "Unrecognized token: -aa");
}

TEST(OptionParser, FlagGivenAValue) {
    Fixture f;
    EXPECT_EQ(f.parse({"--long-flag=1"}).message(), "Flag option '--long-flag' contains value '1'.");
    EXPECT_FALSE(f.long_flag);
    EXPECT_EQ(Fixture().parse({"--long-flag 1"}).message(),
              "Flag option '--long-flag' contains value '1'.");
    EXPECT_EQ(Fixture().parse({"-a=yes"}).message(), "Flag option '-a' contains value 'yes'.");
    EXPECT_EQ(Fixture().parse({"--long-flag", "1"}).message(), "Unrecognized token: 1");
}

TEST(OptionParser, HelpShortCircuits) {
    Fixture f;  // -? matches first and stops; the rest of the bundle is ignored
    ParseResult r = f.parse({"-?h"});
    EXPECT_TRUE(r.is_ok());
    EXPECT_EQ(r.type(), ParseResultType::short_circuit);
    EXPECT_TRUE(f.help);

    Fixture g;  // later arguments are neither parsed nor reported
    r = g.parse({"-a", "--help", "-x", "bad", "junk"});
    EXPECT_TRUE(r.is_ok());
    EXPECT_TRUE(g.help && g.a);
    EXPECT_EQ(g.number, 5u);

    Fixture h;  // errors before the help option win
    EXPECT_EQ(h.parse({"junk", "--help"}).message(), "Unrecognized token: junk");
    Fixture i;
    EXPECT_EQ(i.parse({"-x", "bad", "-h"}).message(), "Unable to convert 'bad' to destination type");
}

TEST(OptionParser, UnrecognizedTokens) {
    const std::vector<std::vector<std::string>> cases = {
        {"--"}, {"-"}, {""}, {"word"}, {"-5"}, {"--nam"}, {"--Name=1"}, {"-z"}, {"---name"}};
    for (const auto& args : cases) {
        EXPECT_EQ(Fixture().parse(args).message(), "Unrecognized token: " + args[0]);
    }
    // Each option matches at most once, even with the same value.
    Fixture f;
    EXPECT_EQ(f.parse({"-x", "1", "--name", "1"}).message(), "Unrecognized token: --name");
    EXPECT_EQ(f.number, 1u);  // values given before the failing token stay stored
    // Any order is fine.
    Fixture g;
    EXPECT_TRUE(g.parse({"-b", "--text", "t", "-x", "3", "-a"}).is_ok());
    EXPECT_TRUE(g.a && g.b);
}

TEST(OptionParser, MissingValueAndChoices) {
    EXPECT_EQ(Fixture().parse({"--name"}).message(), "Expected argument following --name");
    EXPECT_EQ(Fixture().parse({"-a", "-x"}).message(), "Expected argument following -x");
    Fixture f;
    EXPECT_TRUE(f.parse({"-c", "green"}).is_ok());
    EXPECT_EQ(f.color, "green");
    Fixture g;
    EXPECT_EQ(g.parse({"--color=Green"}).message(),
              "Value 'Green' not expected. Allowed values are: red, green");
    EXPECT_EQ(g.color, "red");
    EXPECT_EQ(Fixture().parse({"--color="}).message(),
              "Value '' not expected. Allowed values are: red, green");
}

TEST(OptionParser, FirstErrorOnATokenIsTheOneReported) {
    // Two options that both claim -q and both fail on its value: the one
    // declared first speaks, whichever order the failures come in.
    std::uint32_t number = 0;
    std::string choice = "a";
    CommandLine number_first;
    number_first.add(Opt(number, "n").name("-q")).add(Opt(choice, "c").name("-q").choices({"a", "b"}));
    EXPECT_EQ(number_first.parse(ArgumentList{"prog", {"-q", "z"}}).message(),
              "Unable to convert 'z' to destination type");
    CommandLine choice_first;
    choice_first.add(Opt(choice, "c").name("-q").choices({"a", "b"})).add(Opt(number, "n").name("-q"));
    EXPECT_EQ(choice_first.parse(ArgumentList{"prog", {"-q", "z"}}).message(),
              "Value 'z' not expected. Allowed values are: a, b");
    // A later option that matches still wins over an earlier failure.
    EXPECT_TRUE(choice_first.parse(ArgumentList{"prog", {"-q", "7"}}).is_ok());
    EXPECT_EQ(number, 7u);
}

TEST(OptionParser, DeclarationInvariants) {
    bool flag = false;
    std::string s;
    struct Case {
        Opt opt;
        const char* message;
    };
    std::vector<Case> cases = {
        {Opt(flag), "No options supplied to opt"},
        {Opt(flag).name("-f").choices({"x"}), "Flag options cannot contain choices."},
        {Opt(s, "s").name("-s").name(""), "Option name cannot be empty"},
        {Opt(s, "s").name("s"), "Option name must begin with '-'"},
    };
    for (const Case& c : cases) {
        CommandLine cli;
        cli.add(c.opt);
        EXPECT_EQ(cli.parse(ArgumentList{"p", {"-q"}}).message(), c.message);
        // Checked only when the option is tried on a token.
        EXPECT_TRUE(cli.parse(ArgumentList{"p", {}}).is_ok());
    }
    // Another option still matches the token; the remembered error is used
    // only when nothing matches.
    bool g = false;
    CommandLine cli;
    cli.add(Opt(flag)).add(Opt(g).name("-g"));
    EXPECT_TRUE(cli.parse(ArgumentList{"p", {"-g"}}).is_ok());
    EXPECT_TRUE(g);
}

TEST(OptionParser, DefaultsAndDescriptions) {
    std::uint32_t n = 12;
    std::string empty;
    std::string value = "abc";
    EXPECT_EQ(Opt(n, "n").option_description(), "[default: 12]");
    EXPECT_EQ(Opt(n, "n").help("Help").option_description(), "Help [default: 12]");
    EXPECT_EQ(Opt(empty, "e").help("Help").option_description(), "Help");
    EXPECT_EQ(Opt(value, "v").option_description(), "[default: abc]");
    bool flag = true;
    EXPECT_EQ(Opt(flag).option_description(), "");
    EXPECT_EQ(Opt(flag).help("Help").option_description(), "Help");
    // Copies share the binding.
    Opt original(n, "n");
    original.name("-n");
    CommandLine cli;
    cli.add(original);
    EXPECT_TRUE(cli.parse(ArgumentList{"p", {"-n", "3"}}).is_ok());
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(original.value_text(), "3");
}

TEST(OptionParser, ExecutableNameIsTheFileName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\dir\\prog.exe", "prog.exe"}, {"/usr/bin/prog", "prog"}, {"a/b\\c", "c"},
        {"prog", "prog"}, {"dir/", ""}};
    for (const auto& [given, shown] : cases) {
        Fixture f;
        CommandLine cli = f.cli();
        EXPECT_TRUE(cli.parse(ArgumentList{given, {}}).is_ok());
        EXPECT_EQ(cli.exe_name().name(), shown);
    }
    const char* argv[] = {"C:\\x\\nembo.exe", "-a", nullptr};
    const ArgumentList list = ArgumentList::from_argv(2, argv);
    EXPECT_EQ(list.exe_name, "C:\\x\\nembo.exe");
    EXPECT_EQ(list.args, std::vector<std::string>{"-a"});
    EXPECT_TRUE(ArgumentList::from_argv(0, argv).exe_name.empty());
    EXPECT_TRUE(ArgumentList::from_argv(3, nullptr).args.empty());
}

TEST(OptionParserHelp, LayoutOfUsageDescriptionAndRows) {
    Fixture f;
    CommandLine cli = f.cli();
    EXPECT_EQ(help_of(cli),  // the placeholder before any parse
              "USAGE:\n"
              "  <executable> [-?|-h|--help] [-x|--name <number>] [-m|--small <small>] "
              "[-t|--text <text>] [-c|--color <color>] [-a] [-b] [--long-flag]\n"
              "\n"
              "Display usage information.\n"
              "\n"
              "OPTIONS, ARGUMENTS:\n"
              "  -?, -h, --help          \n"
              "  -x, --name <number>     A number [default: 5]\n"
              "  -m, --small <small>     [default: 9]\n"
              "  -t, --text <text>       [default: start]\n"
              "  -c, --color <color>     [default: red]\n"
              "  -a                      \n"
              "  -b                      \n"
              "  --long-flag             A flag\n");

    cli.parse(ArgumentList{"", {}});  // no executable name: no usage section
    EXPECT_EQ(help_of(cli).rfind("Display usage information.\n\nOPTIONS, ARGUMENTS:\n", 0), 0u);
}

TEST(OptionParserHelp, NameColumnOf23StaysAnd24Wraps) {
    std::string v;
    CommandLine cli;
    cli.add(Opt(v, "hint5").name("--abcdefghijklm"))    // 15 + 8 = 23 characters
        .add(Opt(v, "hint56").name("--abcdefghijklm"))  // 24
        .add(Opt(v, "h").name("--x"));
    cli.parse(ArgumentList{"", {}});
    EXPECT_EQ(help_of(cli), "OPTIONS, ARGUMENTS:\n"
                            "  --abcdefghijklm <hint5> \n"
                            "  --abcdefghijklm <hint56>\n" +
                                std::string(26, ' ') + "\n" +
                                "  --x <h>" + std::string(17, ' ') + "\n");
}

TEST(OptionParserHelp, IndentationNeverReadsBelowZero) {
    std::ostringstream out;
    OstreamHelpPrinter printer(out);
    printer.unindent(2);
    printer.paragraph(OptionStyle::default_style(), "p");
    printer.indent(3);  // -2 + 3: level 1
    printer.paragraph(OptionStyle::default_style(), "q");
    EXPECT_EQ(out.str(), "p\n\n  q\n\n");
}

}  // namespace
}  // namespace nembo
