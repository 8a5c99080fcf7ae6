// GetFileInformation: the header probe. Sends the GET, waits for the response while letting
// the host's message loop run, and sets FileExists, ResumeSupported, FileSize and StartTime
// from the status line and Content-Length. The request stays open for DownLoad to read.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <utility>

#include "DownLoad.h"
#include "Formatting.h"

namespace carvo {

namespace {

// Characters `from` to `from + count - 1` (1-based) of a UTF-8 text, as far as they exist.
std::string mid(std::string_view s, std::size_t from, std::size_t count) {
    std::size_t ch = 0, b = std::string_view::npos, e = s.size();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        ++ch;
        if (ch == from) b = i;
        if (ch == from + count) {
            e = i;
            break;
        }
    }
    return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b));
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isSuccessStatus(std::string_view code) {
    int value = 0;
    auto [p, ec] = std::from_chars(code.data(), code.data() + code.size(), value);
    return ec == std::errc() && p == code.data() + code.size() && value >= 200 && value <= 299;
}

// Seconds since 1970 of an HTTP date in its one current form, "Sun, 06 Nov 1994 08:49:37 GMT";
// nothing for anything else (the obsolete forms included), which then counts as no date.
std::optional<long long> parseHttpDate(std::string_view text) {
    constexpr std::string_view days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT" ||
        std::find(std::begin(days), std::end(days), text.substr(0, 3)) == std::end(days))
        return std::nullopt;
    auto digits = [&](std::size_t at, std::size_t n) -> std::optional<int> {
        int value = 0;
        for (const char c : text.substr(at, n)) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        return value;
    };
    const auto month = std::find(std::begin(months), std::end(months), text.substr(8, 3));
    const auto day = digits(5, 2), year = digits(12, 4), hour = digits(17, 2),
               minute = digits(20, 2), second = digits(23, 2);
    if (month == std::end(months) || !day || !year || !hour || !minute || !second ||
        text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
        text[22] != ':' || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    // Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
    const int m = static_cast<int>(month - std::begin(months)) + 1;
    const int y = *year - (m <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long daysSinceEpoch = static_cast<long long>(era) * 146097 + doe - 719468;
    return daysSinceEpoch * 86400 + *hour * 3600 + *minute * 60 + *second;
}

// True when an entity tag is "<modification time in hex>-<anything>" for the given date: a tag
// built from the file's time (and size), which changes no more often than the date does.
bool tagSpellsDate(std::string_view tag, std::string_view modified) {
    const auto date = parseHttpDate(modified);
    if (!date || tag.size() < 3 || tag.front() != '"' || tag.back() != '"') return false;
    const std::string_view inner = tag.substr(1, tag.size() - 2);
    long long seconds = 0;
    const auto [p, ec] = std::from_chars(inner.data(), inner.data() + inner.size(), seconds, 16);
    return ec == std::errc() && p != inner.data() && *p == '-' && seconds == *date;
}

}  // namespace

bool DownLoad::lengthIsAgreed(std::string_view headerBlock) {
    std::optional<std::string_view> length;
    bool first = true;  // the status line
    while (!headerBlock.empty()) {
        const std::size_t nl = headerBlock.find('\n');
        std::string_view line = headerBlock.substr(0, nl);
        headerBlock.remove_prefix(nl == std::string_view::npos ? headerBlock.size() : nl + 1);
        if (std::exchange(first, false)) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (sameText(name, "Transfer-Encoding")) return false;
        if (!sameText(name, "Content-Length")) continue;
        if (length && *length != value) return false;
        length = value;
    }
    return true;
}

std::string DownLoad::strongValidator() {
    const std::string tag = i1_->getHeader("ETag");
    const std::string modified = i1_->getHeader("Last-Modified");
    // A date names one version of the file only when the file was last changed at least a
    // second before the server answered (by the server's own clock, in the same answer): a
    // file changed twice within one second keeps the same date.
    auto dateIsStrong = [&] {
        const auto changed = parseHttpDate(modified);
        const auto answered = parseHttpDate(i1_->getHeader("Date"));
        return changed && answered && *answered - *changed >= 1;
    };
    std::string validator;
    if (!tag.empty()) {
        // A weak tag may not stand in If-Range, and while the answer has a tag its date may not
        // either. A tag that only spells out the date (and size) of the file, as nginx makes
        // them, names no more than that date does.
        if (tag.starts_with("W/")) return {};
        if (tagSpellsDate(tag, modified) && !dateIsStrong()) return {};
        validator = tag;
    } else if (dateIsStrong()) {
        validator = modified;
    }
    for (const char c : validator)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    return validator;
}

bool DownLoad::parseContentRange(std::string_view contentRange, long long& first, long long& last,
                                 long long& total) {
    // "bytes first-last/total" and nothing else: digits only (no sign, no blank, no "*"), and a
    // number too large to hold is a malformed answer, never a saturated one.
    constexpr std::string_view unit = "bytes ";
    if (!contentRange.starts_with(unit)) return false;
    std::string_view rest = contentRange.substr(unit.size());
    auto number = [&rest](long long& out, char end) {
        const std::size_t stop = end ? rest.find(end) : rest.size();
        const std::string_view digits = rest.substr(0, stop);
        if (stop == std::string_view::npos || digits.empty() ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
        if (ec != std::errc() || p != digits.data() + digits.size()) return false;
        rest.remove_prefix(end ? stop + 1 : stop);
        return true;
    };
    return number(first, '-') && number(last, '/') && number(total, 0) && last >= first &&
           total > last;
}

void DownLoad::GetFileInformation() {
    auto alive = keepAlive();
    if (ccancel_) ccancel_ = VFalse;  // a cancel left over from an earlier transfer
    unreadProbedRequest_ = 0;
    try {
        if (OnlineCheck_ == VTrue) {
            if (CheckConnection() == 0) {
                host().messageBox("Não foi possível detectar uma conexão ativa com a Internet.",
                                  mb::OkOnly | mb::Exclamation, "Carvo");
                Connected_ = VFalse;
                raiseCode(5);
                raiseError("Conexão com a Internet não encontrada!");
                raiseStatus("Não há Conexão ativa com a Internet!");
                return;
            }
            Connected_ = VTrue;
        }
        i1_->setUrl(Url_);
        executeRequest();
        raiseStatus("Iniciando Conexão...");
        // A cancel ends the wait at once, however slowly the server answers.
        while (i1_->stillExecuting() && !ccancel_) host().yield();
        raiseStatus("Conexão Aceita, Recebendo Informações.");

        auto honourCancel = [this] {
            ccancel_ = VFalse;
            raiseCode(4);
            raiseStatus("Cancelado.");
        };
        if (ccancel_) return honourCancel();

        // A proxy that refuses the user (or asks for one) is not the server refusing the file:
        // say so, or the user would look for the fault at the server.
        // A refusal ends the probe with its three texts; the request is dropped and nothing
        // about the file is known but whether the answer came from the server.
        const auto refuse = [&](const char* status, std::int32_t refusal, const char* error,
                                VBool fromServer) {
            raiseStatus(status);
            raiseCode(refusal);
            raiseError(error);
            ResumeSupported_ = VFalse;
            FileExists_ = fromServer;
            FileSize_ = 0;
            cancelRequest();
        };
        if (const int refusal = i1_->proxyRefusal(); refusal == 401 || refusal == 407) {
            refuse("Acesso Não Autorizado Pelo Proxy, Download Interrompido!", 407,
                   "Acesso Não Autorizado Pelo Proxy!", VFalse);
            return;
        }

        const std::string header = i1_->getHeader();
        const std::string code = mid(header, 10, 3);
        if (code == "401") {
            refuse("Acesso Não Autorizado, Download Interrompido!", 401, "Acesso Não Autorizado!",
                   VTrue);
            return;
        }
        if (code == "403") {
            refuse("Acesso Negado, Download Interrompido!", 403, "Acesso Negado!", VTrue);
            return;
        }
        if (code == "404") {
            raiseError("Arquivo Não Encontrado!");
            raiseStatus("Arquivo Não Encontrado!");
            raiseCode(2);
            FileExists_ = VFalse;
            FileSize_ = 0;
            cancelRequest();
            return;
        }
        if (!isSuccessStatus(code)) {
            // A server error page or an unfollowed redirect is not the file: never let it be
            // saved (and later run) as if it were.
            FileExists_ = VFalse;
            FileSize_ = 0;
            cancelRequest();
            throw ComError(hr::Fail, "HTTP status " + code);
        }
        if (!lengthIsAgreed(header)) {
            // FileSize would come from one header while the body follows another.
            FileExists_ = VFalse;
            FileSize_ = 0;
            cancelRequest();
            throw ComError(hr::Fail, "the answer names conflicting lengths");
        }
        if (code == "206") {
            // The probe asks for no range: a 206 that names a range is one part of a larger
            // file, and saving it would pass a piece off as the whole.
            const std::string range = i1_->getHeader("Content-Range");
            long long first = 0, last = 0, total = 0;
            if (!range.empty() &&
                !(parseContentRange(range, first, last, total) && first == 0 && last + 1 == total &&
                  i1_->getHeader("Content-Length") == std::to_string(total))) {
                FileExists_ = VFalse;
                FileSize_ = 0;
                cancelRequest();
                throw ComError(hr::Fail, "the answer is only part of the file");
            }
        }
        if (ccancel_) return honourCancel();

        ResumeSupported_ = toVBool(mid(header, 6, 3) == "1.1");
        FileExists_ = VTrue;
        // Elapsed time is measured on a monotonic clock; the second taken off keeps the first
        // rate finite, as before.
        StartTime_ = host().monotonicSeconds() - 1.0;
        FileSize_ = Variant(i1_->getHeader("Content-Length")).toLong();
        unreadProbedRequest_ = requestSerial_;
        raiseStatus("Informações Recebidas!");
    } catch (...) {
        raiseError("Erro ao Ler Cabeçalho do Arquivo.");
        raiseStatus("Erro Ao Ler Cabeçalho do Arquivo!");
        raiseCode(1);
    }
}

}  // namespace carvo
