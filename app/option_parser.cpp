#include "app/option_parser.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>
#include <utility>

namespace nembo {

namespace {

const std::string empty_text;

// A token starts with `size` copies of one prefix character and the
// character after them is a different one.
bool has_prefix(std::string_view arg, std::string_view prefixes, std::size_t size) {
    if (size == 0 || arg.size() <= size) return false;
    const char c = arg[0];
    if (prefixes.find(c) == std::string_view::npos) return false;
    for (std::size_t i = 1; i < size; ++i) {
        if (arg[i] != c) return false;
    }
    return arg[size] != c;
}

bool is_long_option(std::string_view arg, const OptionStyle& style) {
    return has_prefix(arg, style.long_prefix, style.long_prefix_size);
}

bool is_short_option(std::string_view arg, const OptionStyle& style) {
    return has_prefix(arg, style.short_prefix, style.short_prefix_size);
}

// The option name of the current token, prefixes mapped to "--" and "-";
// empty when the token is not an option.
std::string token_option_name(const TokenCursor& cursor, const OptionStyle& style) {
    if (cursor.at_end()) return {};
    const std::string& arg = cursor.argument();
    if (is_long_option(arg, style)) {
        const std::size_t delimiter = arg.find_first_of(style.value_delimiters);
        const std::size_t end = delimiter == std::string::npos ? arg.size() : delimiter;
        return "--" + arg.substr(style.long_prefix_size, end - style.long_prefix_size);
    }
    if (is_short_option(arg, style) && cursor.char_index() < arg.size()) {
        return std::string("-") + arg[cursor.char_index()];
    }
    return {};
}

// The value attached to or following the option token, and whether it was
// attached to the token itself.
struct FoundValue {
    bool present = false;
    bool attached = false;
    std::string text;
};

FoundValue find_value(const TokenCursor& cursor, const OptionStyle& style) {
    const std::string& arg = cursor.argument();
    const std::size_t delimiter = arg.find_first_of(style.value_delimiters);
    if (is_long_option(arg, style)) {
        if (delimiter != std::string::npos) return {true, true, arg.substr(delimiter + 1)};
    } else {
        const std::size_t after = cursor.char_index() + 1;
        if (delimiter != std::string::npos && delimiter == after) {
            return {true, true, arg.substr(after + 1)};
        }
        if (after < arg.size()) return {true, true, arg.substr(after)};
    }
    if (const std::string* next = cursor.next_argument()) return {true, false, *next};
    return {};
}

template <typename T>
ParseResult convert_unsigned(std::string_view text, T& target) {
    const bool digits_only =
        !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
    T value = 0;
    if (digits_only) {
        const char* first = text.data();
        const char* last = first + text.size();
        const auto [ptr, ec] = std::from_chars(first, last, value, 10);
        if (ec == std::errc() && ptr == last) {
            target = value;
            return ParseResult::ok(ParseResultType::matched);
        }
    }
    return ParseResult::error("Unable to convert '" + std::string(text) + "' to destination type");
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) out += separator;
        out += parts[i];
    }
    return out;
}

class FlagBinding : public ValueBinding {
public:
    FlagBinding(bool& target, bool help) : target_(target), help_(help) {}
    bool is_flag() const override { return true; }
    std::size_t arity() const override { return help_ ? 0 : 1; }
    std::string value_text(std::size_t index) const override {
        if (help_ || index != 0) return {};
        return target_ ? "true" : "false";
    }
    ParseResult set_flag(bool value) override {
        target_ = value;
        return ParseResult::ok(help_ ? ParseResultType::short_circuit : ParseResultType::matched);
    }

private:
    bool& target_;
    bool help_;
};

template <typename T>
class UnsignedBinding : public ValueBinding {
public:
    explicit UnsignedBinding(T& target) : target_(target) {}
    bool is_flag() const override { return false; }
    std::string value_text(std::size_t index) const override {
        return index == 0 ? std::to_string(target_) : std::string();
    }
    ParseResult set_value(std::string_view text) override { return convert_unsigned(text, target_); }

private:
    T& target_;
};

class StringBinding : public ValueBinding {
public:
    explicit StringBinding(std::string& target) : target_(target) {}
    bool is_flag() const override { return false; }
    std::string value_text(std::size_t index) const override {
        return index == 0 ? target_ : std::string();
    }
    ParseResult set_value(std::string_view text) override {
        target_.assign(text);
        return ParseResult::ok(ParseResultType::matched);
    }

private:
    std::string& target_;
};

}  // namespace

// ---- OptionStyle ----

const OptionStyle& OptionStyle::default_style() {
    static const OptionStyle style;  // thread-safe one-time initialisation
    return style;
}

std::string OptionStyle::render_name(std::string_view name) const {
    if (name.substr(0, 2) == "--" && !long_prefix.empty()) {
        return std::string(long_prefix_size, long_prefix[0]) + std::string(name.substr(2));
    }
    if (name.substr(0, 1) == "-" && !short_prefix.empty()) {
        return std::string(short_prefix_size, short_prefix[0]) + std::string(name.substr(1));
    }
    return std::string(name);
}

// ---- TokenCursor ----

TokenCursor::TokenCursor(const OptionStyle& style, const std::vector<std::string>& args)
    : style_(&style), args_(&args), position_(0), char_index_(style.short_prefix_size) {}

const OptionStyle& TokenCursor::style() const {
    return style_ != nullptr ? *style_ : OptionStyle::default_style();
}

bool TokenCursor::at_end() const { return args_ == nullptr || position_ >= args_->size(); }

const std::string& TokenCursor::argument() const {
    return at_end() ? empty_text : (*args_)[position_];
}

const std::string* TokenCursor::next_argument() const {
    if (args_ == nullptr || position_ + 1 >= args_->size()) return nullptr;
    return &(*args_)[position_ + 1];
}

TokenCursor TokenCursor::advanced(std::size_t count) const {
    TokenCursor next = *this;
    const std::size_t size = args_ == nullptr ? 0 : args_->size();
    next.position_ = std::min(size, position_ + count);
    next.char_index_ = style().short_prefix_size;
    return next;
}

TokenCursor TokenCursor::next_in_bundle() const {
    TokenCursor next = *this;
    ++next.char_index_;
    return next;
}

// ---- ParseResult ----

ParseResult ParseResult::ok(ParseResultType type, TokenCursor cursor) {
    ParseResult result;
    result.type_ = type;
    result.cursor_ = cursor;
    return result;
}

ParseResult ParseResult::error(std::string message, TokenCursor cursor) {
    ParseResult result;
    result.code_ = 1;
    result.message_ = std::move(message);
    result.cursor_ = cursor;
    return result;
}

// ---- ValueBinding ----

ValueBinding::~ValueBinding() = default;
bool ValueBinding::is_container() const { return false; }
std::size_t ValueBinding::arity() const { return 1; }
ParseResult ValueBinding::set_value(std::string_view) {
    return ParseResult::error("Unable to convert value to destination type");
}
ParseResult ValueBinding::set_flag(bool) {
    return ParseResult::error("Unable to convert value to destination type");
}

std::shared_ptr<ValueBinding> bind_flag(bool& target) {
    return std::make_shared<FlagBinding>(target, false);
}
std::shared_ptr<ValueBinding> bind_help_flag(bool& target) {
    return std::make_shared<FlagBinding>(target, true);
}
std::shared_ptr<ValueBinding> bind_value(std::uint32_t& target) {
    return std::make_shared<UnsignedBinding<std::uint32_t>>(target);
}
std::shared_ptr<ValueBinding> bind_value(std::uint64_t& target) {
    return std::make_shared<UnsignedBinding<std::uint64_t>>(target);
}
std::shared_ptr<ValueBinding> bind_value(std::string& target) {
    return std::make_shared<StringBinding>(target);
}

// ---- Choices ----

Choices::Choices(std::vector<std::string> values) : values_(std::move(values)) {}

ParseResult Choices::check(std::string_view value) const {
    if (std::find(values_.begin(), values_.end(), value) != values_.end()) {
        return ParseResult::ok(ParseResultType::matched);
    }
    return ParseResult::error("Value '" + std::string(value) +
                              "' not expected. Allowed values are: " + join(values_, ", "));
}

// ---- HelpPrinter ----

HelpPrinter::~HelpPrinter() = default;

OstreamHelpPrinter::OstreamHelpPrinter(std::ostream& out) : out_(out) {}

void OstreamHelpPrinter::heading(const OptionStyle&, std::string_view text) {
    out_ << text << '\n';
}

void OstreamHelpPrinter::paragraph(const OptionStyle& style, std::string_view text) {
    out_ << std::string(static_cast<std::size_t>(level()) * style.indent_unit, ' ') << text
         << "\n\n";
}

void OstreamHelpPrinter::option_row(const OptionStyle& style, std::string_view name_column,
                                    std::string_view description) {
    const std::size_t indent = static_cast<std::size_t>(level()) * style.indent_unit;
    const std::size_t width = indent < 25 ? 25 - indent : 0;
    const std::string margin(indent, ' ');
    out_ << margin << name_column;
    if (name_column.size() <= width) {
        out_ << std::string(width - name_column.size(), ' ');
    } else {
        out_ << '\n' << margin << std::string(width, ' ');
    }
    out_ << ' ' << description << '\n';
}

void OstreamHelpPrinter::indent(int levels) { level_ += levels; }
void OstreamHelpPrinter::unindent(int levels) { level_ -= levels; }
int OstreamHelpPrinter::level() const { return level_ < 0 ? 0 : level_; }

// ---- Parser ----

Parser::~Parser() = default;
std::string Parser::usage_text(const OptionStyle&) const { return {}; }
std::string Parser::description_text(const OptionStyle&) const { return {}; }
Cardinality Parser::cardinality() const { return {0, 1}; }
bool Parser::is_group() const { return false; }
ParseResult Parser::validate(const OptionStyle&) const {
    return ParseResult::ok(ParseResultType::matched);
}
bool Parser::is_named(std::string_view) const { return false; }
const Parser* Parser::find_named(std::string_view) const { return nullptr; }
std::size_t Parser::value_arity() const { return 0; }
std::string Parser::value_text() const { return {}; }
std::string Parser::primary_name(const OptionStyle&) const { return {}; }
void Parser::print_help_details(HelpPrinter&, const OptionStyle&) const {}

void Parser::print_help(HelpPrinter& printer, const OptionStyle& style) const {
    print_usage_section(printer, style);
    const std::string description = description_text(style);
    if (!description.empty()) printer.paragraph(style, description);
    printer.heading(style, "OPTIONS, ARGUMENTS:");
    print_help_details(printer, style);
}

void Parser::print_usage_section(HelpPrinter& printer, const OptionStyle& style) const {
    const std::string usage = usage_text(style);
    if (usage.empty()) return;
    printer.heading(style, "USAGE:");
    printer.indent(1);
    printer.paragraph(style, usage);
    printer.unindent(1);
}

// ---- ExeName ----

ExeName::ExeName(std::string placeholder)
    : name_(std::make_shared<std::string>(std::move(placeholder))) {}

void ExeName::set(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    *name_ = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::unique_ptr<Parser> ExeName::clone() const { return std::make_unique<ExeName>(*this); }

ParseResult ExeName::parse(const TokenCursor& cursor, const OptionStyle&) const {
    return ParseResult::ok(ParseResultType::no_match, cursor);
}

std::string ExeName::primary_name(const OptionStyle&) const { return *name_; }

// ---- BoundParser ----

BoundParser::BoundParser(std::shared_ptr<ValueBinding> binding, std::string hint)
    : binding_(std::move(binding)), hint_(std::move(hint)) {
    if (binding_ && !binding_->is_flag() && !binding_->is_container() && binding_->arity() == 1) {
        const std::string current = binding_->value_text(0);
        if (!current.empty()) description_ = "[default: " + current + "]";
    }
}

Cardinality BoundParser::cardinality() const {
    const bool container = binding_ && binding_->is_container();
    return {0, container ? 0u : 1u};
}

std::size_t BoundParser::value_arity() const { return binding_ ? binding_->arity() : 0; }
std::string BoundParser::value_text() const { return binding_ ? binding_->value_text(0) : ""; }

// ---- Opt ----

Opt::Opt(bool& flag) : BoundParser(bind_flag(flag), {}) {}
Opt::Opt(std::uint32_t& target, std::string hint) : BoundParser(bind_value(target), std::move(hint)) {}
Opt::Opt(std::uint64_t& target, std::string hint) : BoundParser(bind_value(target), std::move(hint)) {}
Opt::Opt(std::string& target, std::string hint) : BoundParser(bind_value(target), std::move(hint)) {}
Opt::Opt(std::shared_ptr<ValueBinding> binding, std::string hint)
    : BoundParser(std::move(binding), std::move(hint)) {}

Opt& Opt::name(std::string option_name) {
    names_.push_back(std::move(option_name));
    return *this;
}

Opt& Opt::help(std::string_view text) {
    if (description_.empty()) {
        description_ = std::string(text);
    } else {
        description_ = std::string(text) + " " + description_;
    }
    return *this;
}

Opt& Opt::choices(std::vector<std::string> values) {
    choices_ = std::make_shared<const Choices>(std::move(values));
    return *this;
}

std::string Opt::name_column(const OptionStyle& style) const {
    std::string column;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (i != 0) column += ", ";
        column += style.render_name(names_[i]);
    }
    if (!hint_.empty()) column += " <" + hint_ + ">";
    return column;
}

std::string Opt::usage_text(const OptionStyle& style) const {
    std::string usage;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (i != 0) usage += "|";
        usage += style.render_name(names_[i]);
    }
    if (!hint_.empty()) usage += " <" + hint_ + ">";
    return usage;
}

std::string Opt::description_text(const OptionStyle&) const { return {}; }

ParseResult Opt::validate(const OptionStyle&) const {
    if (names_.empty()) return ParseResult::error("No options supplied to opt");
    if (binding_ && binding_->is_flag() && choices_) {
        return ParseResult::error("Flag options cannot contain choices.");
    }
    for (const std::string& n : names_) {
        if (n.empty()) return ParseResult::error("Option name cannot be empty");
    }
    for (const std::string& n : names_) {
        if (n[0] != '-') return ParseResult::error("Option name must begin with '-'");
    }
    if (!binding_) return ParseResult::error("Option has no binding");
    return ParseResult::ok(ParseResultType::matched);
}

std::unique_ptr<Parser> Opt::clone() const { return std::make_unique<Opt>(*this); }

bool Opt::is_named(std::string_view option_name) const {
    return std::find(names_.begin(), names_.end(), option_name) != names_.end();
}

const Parser* Opt::find_named(std::string_view option_name) const {
    return is_named(option_name) ? this : nullptr;
}

ParseResult Opt::parse(const TokenCursor& cursor, const OptionStyle& style) const {
    ParseResult valid = validate(style);
    if (!valid) return ParseResult::error(valid.message(), cursor);

    if (cursor.at_end()) return ParseResult::ok(ParseResultType::no_match, cursor);
    const std::string name = token_option_name(cursor, style);
    if (name.empty() || !is_named(name)) return ParseResult::ok(ParseResultType::no_match, cursor);

    const std::string& arg = cursor.argument();
    if (binding_->is_flag()) {
        if (arg.find_first_of(style.value_delimiters) != std::string::npos) {
            const FoundValue value = find_value(cursor, style);
            return ParseResult::error(
                "Flag option '" + name + "' contains value '" + value.text + "'.", cursor);
        }
        const bool more_in_bundle =
            is_short_option(arg, style) && cursor.char_index() + 1 < arg.size();
        const TokenCursor next = more_in_bundle ? cursor.next_in_bundle() : cursor.advanced(1);
        const ParseResult set = binding_->set_flag(true);
        if (!set) return ParseResult::error(set.message(), next);
        return ParseResult::ok(set.type(), next);
    }

    const FoundValue value = find_value(cursor, style);
    if (!value.present) return ParseResult::error("Expected argument following " + name, cursor);
    // A value taken from the next argument consumes it too, also when the
    // option ends a bundle such as -ab.
    const TokenCursor next = cursor.advanced(value.attached ? 1 : 2);
    if (choices_) {
        const ParseResult allowed = choices_->check(value.text);
        if (!allowed) return ParseResult::error(allowed.message(), next);
    }
    const ParseResult set = binding_->set_value(value.text);
    if (!set) return ParseResult::error(set.message(), next);
    return ParseResult::ok(ParseResultType::matched, next);
}

std::string Opt::primary_name(const OptionStyle& style) const {
    return names_.empty() ? std::string() : style.render_name(names_.front());
}

void Opt::print_help_details(HelpPrinter& printer, const OptionStyle& style) const {
    printer.option_row(style, name_column(style), description_);
}

// ---- HelpOpt ----

HelpOpt::HelpOpt(bool& show_help) : Opt(bind_help_flag(show_help), {}) {
    name("-?").name("-h").name("--help");
}

std::string HelpOpt::description_text(const OptionStyle&) const { return text_; }

std::unique_ptr<Parser> HelpOpt::clone() const { return std::make_unique<HelpOpt>(*this); }

// ---- Arguments ----

Arguments::Arguments(const Arguments& other) : Parser(other) {
    children_.reserve(other.children_.size());
    for (const auto& child : other.children_) children_.push_back(child->clone());
}

Arguments& Arguments::operator=(const Arguments& other) {
    if (this != &other) {
        Arguments copy(other);
        children_ = std::move(copy.children_);
    }
    return *this;
}

Arguments::~Arguments() = default;

Arguments& Arguments::add(const Parser& parser) {
    children_.push_back(parser.clone());
    return *this;
}

std::string Arguments::usage_text(const OptionStyle& style) const {
    std::string usage;
    for (const auto& child : children_) {
        std::string text = child->usage_text(style);
        if (text.empty()) continue;
        if (!child->is_group() && child->cardinality().minimum == 0) text = "[" + text + "]";
        if (!usage.empty()) usage += ' ';
        usage += text;
    }
    return usage;
}

std::string Arguments::description_text(const OptionStyle& style) const {
    std::string text;
    for (const auto& child : children_) {
        if (child->is_group()) continue;
        const std::string part = child->description_text(style);
        if (part.empty()) continue;
        if (!text.empty()) text += '\n';
        text += part;
    }
    return text;
}

bool Arguments::is_group() const { return true; }

ParseResult Arguments::validate(const OptionStyle& style) const {
    for (const auto& child : children_) {
        ParseResult result = child->validate(style);
        if (!result) return result;
    }
    return ParseResult::ok(ParseResultType::matched);
}

std::unique_ptr<Parser> Arguments::clone() const { return std::make_unique<Arguments>(*this); }

const Parser* Arguments::find_named(std::string_view name) const {
    for (const auto& child : children_) {
        if (const Parser* found = child->find_named(name)) return found;
    }
    return nullptr;
}

ParseResult Arguments::parse(const TokenCursor& start, const OptionStyle& style) const {
    std::vector<std::size_t> counts(children_.size(), 0);
    TokenCursor cursor = start;
    while (!cursor.at_end()) {
        bool matched = false;
        bool have_error = false;
        ParseResult first_error = ParseResult::ok(ParseResultType::no_match);
        for (std::size_t i = 0; i < children_.size(); ++i) {
            const std::size_t maximum = children_[i]->cardinality().maximum;
            if (maximum != 0 && counts[i] >= maximum) continue;
            ParseResult result = children_[i]->parse(cursor, style);
            if (!result) {
                if (!have_error) {
                    have_error = true;
                    first_error = std::move(result);
                }
                continue;
            }
            if (result.type() == ParseResultType::no_match) continue;
            ++counts[i];
            cursor = result.cursor();
            if (result.type() == ParseResultType::short_circuit) {
                return ParseResult::ok(ParseResultType::short_circuit, cursor);
            }
            matched = true;
            break;
        }
        if (!matched) {
            if (have_error) return first_error;
            break;
        }
    }
    return ParseResult::ok(ParseResultType::matched, cursor);
}

void Arguments::print_help_details(HelpPrinter& printer, const OptionStyle& style) const {
    std::vector<std::size_t> order(children_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (style.sort_options) {
        // By primary name; equal names keep their declaration order.
        std::sort(order.begin(), order.end(), [this, &style](std::size_t a, std::size_t b) {
            const std::string name_a = children_[a]->primary_name(style);
            const std::string name_b = children_[b]->primary_name(style);
            return name_a != name_b ? name_a < name_b : a < b;
        });
    }
    printer.indent(1);
    for (const std::size_t i : order) children_[i]->print_help_details(printer, style);
    printer.unindent(1);
}

// ---- ArgumentList ----

ArgumentList ArgumentList::from_argv(int argc, const char* const* argv) {
    ArgumentList list;
    if (argv == nullptr || argc <= 0) return list;
    if (argv[0] != nullptr) list.exe_name = argv[0];
    list.args.reserve(static_cast<std::size_t>(argc - 1));
    for (int i = 1; i < argc; ++i) list.args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return list;
}

// ---- CommandLine ----

CommandLine::CommandLine(std::string exe_placeholder) : exe_name_(std::move(exe_placeholder)) {}

CommandLine& CommandLine::add(const Parser& parser) {
    Arguments::add(parser);
    return *this;
}

const OptionStyle& CommandLine::style() const {
    return style_ ? *style_ : OptionStyle::default_style();
}

ParseResult CommandLine::parse(const ArgumentList& arguments) {
    const OptionStyle& active = style();
    exe_name_.set(arguments.exe_name);
    const TokenCursor start(active, arguments.args);
    ParseResult result = Arguments::parse(start, active);
    if (!result) return result;
    if (result.type() == ParseResultType::short_circuit) {
        return ParseResult::ok(ParseResultType::short_circuit, result.cursor());
    }
    if (!result.cursor().at_end()) {
        return ParseResult::error("Unrecognized token: " + result.cursor().argument(),
                                  result.cursor());
    }
    return ParseResult::ok(ParseResultType::matched, result.cursor());
}

std::string CommandLine::usage_text(const OptionStyle& style) const {
    if (exe_name_.name().empty()) return {};
    return exe_name_.name() + " " + Arguments::usage_text(style);
}

std::unique_ptr<Parser> CommandLine::clone() const { return std::make_unique<CommandLine>(*this); }

std::ostream& operator<<(std::ostream& out, const CommandLine& command_line) {
    OstreamHelpPrinter printer(out);
    command_line.print_help(printer, command_line.style());
    return out;
}

}  // namespace nembo
