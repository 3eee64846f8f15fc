#pragma once
// A small command-line parser built from composable parser objects.
//
// Options are declared as objects bound to variables, collected in a
// CommandLine, and the argument vector is parsed once; the result is success
// or an error text. The same objects render the help screen. Nothing here
// throws: every failure comes back as a failed ParseResult.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace nembo {

// Token conventions. The program always uses the default instance.
struct OptionStyle {
    std::string value_delimiters = "= ";
    std::string long_prefix = "-";
    std::size_t long_prefix_size = 2;
    std::string short_prefix = "-";
    std::size_t short_prefix_size = 1;
    bool sort_options = false;
    std::size_t indent_unit = 2;

    // Created on first use; safe to call from any thread.
    static const OptionStyle& default_style();

    // Name rendering for help and usage: "--x" and "-x" written with this
    // style's prefixes.
    std::string render_name(std::string_view name) const;
};

// Position in the argument list. `char_index` walks through a bundle of
// short options (-abc) and restarts at the short prefix size for each new
// argument.
class TokenCursor {
public:
    TokenCursor() = default;
    TokenCursor(const OptionStyle& style, const std::vector<std::string>& args);

    const OptionStyle& style() const;
    bool at_end() const;
    std::size_t position() const { return position_; }
    std::size_t char_index() const { return char_index_; }
    // The current argument; only valid when not at the end.
    const std::string& argument() const;
    // The argument after the current one, or nullptr.
    const std::string* next_argument() const;

    // Moves `count` arguments on and restarts the character index.
    TokenCursor advanced(std::size_t count) const;
    // Stays on the argument and moves to the next character of a bundle.
    TokenCursor next_in_bundle() const;

private:
    const OptionStyle* style_ = nullptr;
    const std::vector<std::string>* args_ = nullptr;
    std::size_t position_ = 0;
    std::size_t char_index_ = 0;
};

enum class ParseResultType { matched, no_match, short_circuit };

// Success or error. On success it carries the kind of result and the
// position reached; an error carries its message (and the position too).
class ParseResult {
public:
    static ParseResult ok(ParseResultType type, TokenCursor cursor = {});
    static ParseResult error(std::string message, TokenCursor cursor = {});

    int code() const { return code_; }  // 0 success, 1 error
    bool is_ok() const { return code_ == 0; }
    explicit operator bool() const { return is_ok(); }
    ParseResultType type() const { return type_; }
    const std::string& message() const { return message_; }
    const TokenCursor& cursor() const { return cursor_; }

private:
    int code_ = 0;
    ParseResultType type_ = ParseResultType::matched;
    std::string message_;
    TokenCursor cursor_;
};

// The link from an option to the variable it fills. Shared between an
// option and its copies.
class ValueBinding {
public:
    virtual ~ValueBinding();
    virtual bool is_container() const;
    virtual bool is_flag() const = 0;
    virtual std::size_t arity() const;
    // Only index 0 has a text.
    virtual std::string value_text(std::size_t index) const = 0;
    // Value options take a text, flags the boolean true.
    virtual ParseResult set_value(std::string_view text);
    virtual ParseResult set_flag(bool value);
};

std::shared_ptr<ValueBinding> bind_flag(bool& target);
std::shared_ptr<ValueBinding> bind_help_flag(bool& target);
std::shared_ptr<ValueBinding> bind_value(std::uint32_t& target);
std::shared_ptr<ValueBinding> bind_value(std::uint64_t& target);
std::shared_ptr<ValueBinding> bind_value(std::string& target);

// Allowed texts for an option's value, in declaration order.
class Choices {
public:
    explicit Choices(std::vector<std::string> values);
    ParseResult check(std::string_view value) const;
    const std::vector<std::string>& values() const { return values_; }

private:
    std::vector<std::string> values_;
};

class Parser;

// Writes the help screen; see OstreamHelpPrinter for the exact layout.
class HelpPrinter {
public:
    virtual ~HelpPrinter();
    virtual void heading(const OptionStyle& style, std::string_view text) = 0;
    virtual void paragraph(const OptionStyle& style, std::string_view text) = 0;
    virtual void option_row(const OptionStyle& style, std::string_view name_column,
                            std::string_view description) = 0;
    virtual void indent(int levels) = 0;
    virtual void unindent(int levels) = 0;
    // Never below 0.
    virtual int level() const = 0;
};

class OstreamHelpPrinter final : public HelpPrinter {
public:
    explicit OstreamHelpPrinter(std::ostream& out);
    void heading(const OptionStyle& style, std::string_view text) override;
    void paragraph(const OptionStyle& style, std::string_view text) override;
    void option_row(const OptionStyle& style, std::string_view name_column,
                    std::string_view description) override;
    void indent(int levels) override;
    void unindent(int levels) override;
    int level() const override;

private:
    std::ostream& out_;
    int level_ = 0;
};

struct Cardinality {
    std::size_t minimum = 0;
    std::size_t maximum = 1;  // 0: unbounded
};

class Parser {
public:
    virtual std::string usage_text(const OptionStyle& style) const;
    virtual std::string description_text(const OptionStyle& style) const;
    virtual ~Parser();
    virtual Cardinality cardinality() const;
    virtual bool is_group() const;
    virtual ParseResult validate(const OptionStyle& style) const;
    virtual std::unique_ptr<Parser> clone() const = 0;
    virtual bool is_named(std::string_view name) const;
    virtual const Parser* find_named(std::string_view name) const;
    virtual std::size_t value_arity() const;
    virtual std::string value_text() const;
    virtual ParseResult parse(const TokenCursor& cursor, const OptionStyle& style) const = 0;
    virtual std::string primary_name(const OptionStyle& style) const;
    virtual void print_help_details(HelpPrinter& printer, const OptionStyle& style) const;
    virtual void print_help(HelpPrinter& printer, const OptionStyle& style) const;
    virtual void print_usage_section(HelpPrinter& printer, const OptionStyle& style) const;

protected:
    Parser() = default;
    Parser(const Parser&) = default;
    Parser& operator=(const Parser&) = default;
};

// The executable's name, shared between copies; replaced by each parse.
class ExeName : public Parser {
public:
    explicit ExeName(std::string placeholder = "<executable>");
    // Keeps the text after the last '/' or '\'.
    void set(std::string_view path);
    const std::string& name() const { return *name_; }

    std::unique_ptr<Parser> clone() const override;
    ParseResult parse(const TokenCursor& cursor, const OptionStyle& style) const override;
    std::string primary_name(const OptionStyle& style) const override;

private:
    std::shared_ptr<std::string> name_;
};

// Base of options: binding, hint, description, cardinality and choices.
class BoundParser : public Parser {
public:
    Cardinality cardinality() const override;
    std::size_t value_arity() const override;
    std::string value_text() const override;

    const std::string& hint() const { return hint_; }
    const std::string& option_description() const { return description_; }
    const std::shared_ptr<ValueBinding>& binding() const { return binding_; }

protected:
    BoundParser(std::shared_ptr<ValueBinding> binding, std::string hint);

    std::shared_ptr<ValueBinding> binding_;
    std::string hint_;
    std::string description_;
    std::shared_ptr<const Choices> choices_;
};

// A named option: -x and/or --name forms.
class Opt : public BoundParser {
public:
    // A flag.
    explicit Opt(bool& flag);
    // A value option; the description starts as "[default: <value>]".
    Opt(std::uint32_t& target, std::string hint);
    Opt(std::uint64_t& target, std::string hint);
    Opt(std::string& target, std::string hint);
    Opt(std::shared_ptr<ValueBinding> binding, std::string hint);

    Opt& name(std::string option_name);
    // Puts the help text in front of the current description.
    Opt& help(std::string_view text);
    Opt& choices(std::vector<std::string> values);

    const std::vector<std::string>& names() const { return names_; }
    // The names joined by ", ", then " <hint>" when there is a hint.
    std::string name_column(const OptionStyle& style) const;

    std::string usage_text(const OptionStyle& style) const override;
    std::string description_text(const OptionStyle& style) const override;
    ParseResult validate(const OptionStyle& style) const override;
    std::unique_ptr<Parser> clone() const override;
    bool is_named(std::string_view option_name) const override;
    const Parser* find_named(std::string_view option_name) const override;
    ParseResult parse(const TokenCursor& cursor, const OptionStyle& style) const override;
    std::string primary_name(const OptionStyle& style) const override;
    void print_help_details(HelpPrinter& printer, const OptionStyle& style) const override;

private:
    std::vector<std::string> names_;
};

// The built-in -?, -h, --help option: a match stops parsing successfully.
class HelpOpt : public Opt {
public:
    explicit HelpOpt(bool& show_help);
    std::string description_text(const OptionStyle& style) const override;
    std::unique_ptr<Parser> clone() const override;

private:
    std::string text_ = "Display usage information.";
};

// An ordered group of owned child parsers, matched in any order.
class Arguments : public Parser {
public:
    Arguments() = default;
    Arguments(const Arguments& other);
    Arguments& operator=(const Arguments& other);
    Arguments(Arguments&&) noexcept = default;
    Arguments& operator=(Arguments&&) noexcept = default;
    ~Arguments() override;

    Arguments& add(const Parser& parser);

    std::string usage_text(const OptionStyle& style) const override;
    std::string description_text(const OptionStyle& style) const override;
    bool is_group() const override;
    ParseResult validate(const OptionStyle& style) const override;
    std::unique_ptr<Parser> clone() const override;
    const Parser* find_named(std::string_view name) const override;
    ParseResult parse(const TokenCursor& cursor, const OptionStyle& style) const override;
    void print_help_details(HelpPrinter& printer, const OptionStyle& style) const override;

    const std::vector<std::unique_ptr<Parser>>& children() const { return children_; }

private:
    std::vector<std::unique_ptr<Parser>> children_;
};

// The executable name and the remaining arguments, built from argc/argv.
struct ArgumentList {
    std::string exe_name;
    std::vector<std::string> args;

    // argv[0] is the executable name; no vector or a count of 0 leaves it
    // empty. A null entry reads as an empty argument.
    static ArgumentList from_argv(int argc, const char* const* argv);
};

class CommandLine : public Arguments {
public:
    explicit CommandLine(std::string exe_placeholder = "<executable>");

    CommandLine& add(const Parser& parser);

    ParseResult parse(const ArgumentList& arguments);
    using Arguments::parse;

    const ExeName& exe_name() const { return exe_name_; }
    const OptionStyle& style() const;

    std::string usage_text(const OptionStyle& style) const override;
    std::unique_ptr<Parser> clone() const override;

private:
    ExeName exe_name_;
    std::shared_ptr<const OptionStyle> style_;  // none: the default style
};

// Prints the help screen of the command line.
std::ostream& operator<<(std::ostream& out, const CommandLine& command_line);

}  // namespace nembo
