#include "host/vmcfg/RequestWords.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "host/common/JsonText.h"
#include "host/common/TerminalText.h"

int formExitStatus(int result) {
    switch (result) {
        case 0:
            return 0;
        case 1023:
            return 1;
        case 1037:
            return 3;
        default:
            return 4;
    }
}

namespace {

// A whole decimal number within [minimum, maximum].
bool wholeNumber(const String& text, long minimum, long maximum, long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long read = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || read < minimum || read > maximum) return false;
    value = read;
    return true;
}

bool isNegativeNumber(const String& word) {
    return word.size() > 1 && word[0] == '-' &&
           word.find_first_not_of("0123456789", 1) == String::npos;
}

// "N=TEXT" of a -f option.
bool fieldAssignment(const String& text, std::map<int, String>& fields, String& error) {
    std::size_t equals = text.find('=');
    long number = -1;
    if (equals == String::npos ||
        !wholeNumber(text.substr(0, equals), 0, Com_Buffer::max_fields - 1, number)) {
        error = "-f takes N=TEXT with N from 0 to " + std::to_string(Com_Buffer::max_fields - 1) +
                " (got '" + text + "')";
        return false;
    }
    fields[static_cast<int>(number)] = text.substr(equals + 1);
    return true;
}

// Sorts a request's words into its positional words and its -f fields,
// taking --json when json is given; false with the reason at an unknown
// option or a bad field.
bool sortWords(const std::vector<String>& words, std::vector<String>& positional,
               std::map<int, String>& named, String& error, bool* json) {
    bool options = true;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const String& word = words[i];
        if (options && word == "--") {
            options = false;
        } else if (options && (word == "-f" || word == "--field")) {
            if (i + 1 == words.size()) {
                error = word + " takes N=TEXT";
                return false;
            }
            if (!fieldAssignment(words[++i], named, error)) return false;
        } else if (options && word.rfind("--field=", 0) == 0) {
            if (!fieldAssignment(word.substr(8), named, error)) return false;
        } else if (options && json != nullptr && word == "--json") {
            *json = true;
        } else if (options && word.size() > 1 && word[0] == '-' && !isNegativeNumber(word)) {
            error = "unknown option '" + word + "' (put -- before fields that start with -)";
            return false;
        } else {
            positional.push_back(word);
        }
    }
    return true;
}

// The text of a double-quoted word starting at line[open], added to word, as
// a shell reads it (a backslash escapes only a backslash, ", $ and `). The
// index of the closing quote, or npos when there is none.
std::size_t doubleQuoted(const String& line, std::size_t open, String& word) {
    std::size_t j = open + 1;
    for (; j < line.size() && line[j] != '"'; ++j) {
        if (line[j] == '\\' && j + 1 < line.size() &&
            String("\\\"$`").find(line[j + 1]) != String::npos)
            ++j;
        word += line[j];
    }
    return j < line.size() ? j : String::npos;
}

}  // namespace

bool parseRequest(const std::vector<String>& words, FormSession::Request& request, String& error,
                  bool* json) {
    std::vector<String> positional;
    std::map<int, String> named;
    if (!sortWords(words, positional, named, error, json)) return false;
    if (positional.size() < 2) {
        error = "a request is NUMBER OP [FIELD...] [-f N=TEXT]...";
        return false;
    }
    long number = 0;
    if (!wholeNumber(positional[0], 0, 65535, number)) {
        error = "the form number must be a whole number (got '" + positional[0] + "')";
        return false;
    }
    std::optional<AdmOp> op = adm_op(positional[1]);
    if (!op) {
        error = "unknown operation '" + positional[1] + "' (get, chg, add, addv, rem, list, valid)";
        return false;
    }
    if (positional.size() - 2 > static_cast<std::size_t>(Com_Buffer::max_fields)) {
        error = "a request has at most " + std::to_string(Com_Buffer::max_fields) + " fields";
        return false;
    }
    request.form = static_cast<int>(number);
    request.op = *op;
    request.fields.clear();
    for (std::size_t i = 2; i < positional.size(); ++i)
        request.fields[static_cast<int>(i - 2)] = positional[i];
    for (auto& [field, text] : named) request.fields[field] = text;
    return true;
}

bool splitWords(const String& line, std::vector<String>& words, String& error) {
    words.clear();
    String word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == '\\') {
            if (i + 1 == line.size()) {
                error = "the line ends in a backslash";
                return false;
            }
            word += line[++i];
            inWord = true;
        } else if (c == '\'') {
            std::size_t close = line.find('\'', i + 1);
            if (close == String::npos) {
                error = "a ' is not closed";
                return false;
            }
            word += line.substr(i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == '"') {
            i = doubleQuoted(line, i, word);
            if (i == String::npos) {
                error = "a \" is not closed";
                return false;
            }
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return true;
}

void printAnswer(const FormSession::Request& request, const FormSession::Answer& answer, bool json,
                 std::ostream& out) {
    const AdmAnswer& a = answer.outputs;
    if (json) {
        out << jsonText(answerJson(request, answer));
        return;
    }
    out << "form " << request.form << " " << adm_op_name(request.op) << ": result " << a.result
        << " (" << adm_result_text(a.result) << ")  rval " << a.rval << "  ecode " << a.ecode;
    if (a.ecode != 0) out << " (" << adm_ecode_text(request.form, a.ecode) << ")";
    out << "  field_no " << a.field_no << "\n";
    for (std::size_t i = 0; i < answer.fields.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%4zu", i);
        out << number;
        if (!answer.fields[i].empty()) out << "  " << terminalText(answer.fields[i]);
        out << "\n";
    }
}
