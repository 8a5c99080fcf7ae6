// DownLoad and DLResume: the transfer loops. Both read the body of the response open on i1 in
// pieces of CHUNK bytes into the local file and report every pass through events.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <thread>

#include "DownLoad.h"
#include "Formatting.h"
#include "TargetFile.h"

namespace carvo {

namespace {

std::int32_t checkedAdd(std::int32_t a, std::int64_t b) {
    std::int64_t r = std::int64_t{a} + b;
    if (r > INT32_MAX || r < INT32_MIN) throwOverflow();
    return static_cast<std::int32_t>(r);
}

// Single-precision division as the loops do it: dividing by zero, 0/0 and a result beyond
// the single range are run-time errors, not infinities that a host would show.
float divideToSingle(double numerator, double denominator) {
    if (denominator == 0) {
        if (numerator == 0) throwOverflow();
        throw ComError(hr::DivisionByZero, "Division by zero");
    }
    double q = numerator / denominator;
    if (!std::isfinite(q) || std::fabs(q) > 3.4028234663852886e38) throwOverflow();
    return static_cast<float>(q);
}

// Thrown to leave DownLoad through its error exit with a status sentence of its own.
struct KeptExistingFile {
    std::string path;
};

// Thrown when a call made from an event handler or a yield replaced the response a loop was
// reading: its bytes belong to another request and must not reach this file.
struct ResponseReplaced : std::runtime_error {
    ResponseReplaced() : std::runtime_error("the response was replaced during the transfer") {}
};

}  // namespace

bool DownLoad::passesConnectionGate(const char* errorText) {
    // Booleans count as True only at -1, as the control reads them everywhere.
    if (OnlineCheck_ != VTrue || Connected_ == VTrue) return true;
    raiseCode(5);
    raiseError(errorText);
    raiseStatus("Não há Conexão ativa com a Internet!");
    cancelRequest();
    return false;
}

void DownLoad::waitWhilePaused(TargetFile& file, const char* pausedText) {
    if (CPause_ != VTrue) return;
    // Every byte reported so far reaches the file before the wait: a paused download may well
    // end with its process.
    file.flush();
    while (CPause_ == VTrue) {
        host().yield();
        raiseStatus(pausedText);
        // The host's yield returns at once when nothing is pending; without a short rest a
        // paused download would keep a processor busy.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

void DownLoad::pieceLoop(TargetFile& file, std::uint64_t request, std::int32_t chunk,
                         std::int32_t offset, const LoopTexts& texts) {
    auto stillOurs = [&] {
        if (requestSerial_ != request) throw ResponseReplaced();
    };
    const std::int32_t expectedSize = FileSize_;
    std::int32_t count = 0;
    for (;;) {
        if (ccancel_) {
            ccancel_ = VFalse;
            file.close();  // writes out every byte reported and cuts the file there
            raiseCode(4);
            raiseStatus("Cancelado.");
            return;
        }
        stopSeen_ = false;
        ByteArray piece = i1_->getChunk(chunk);
        // Handed back early for a cancel or a pause: short, but not the end of the body.
        const bool interrupted = stopSeen_;
        stillOurs();
        if (interrupted && piece.empty()) {
            waitWhilePaused(file, texts.paused);
            continue;  // nothing to count or report; the next pass sees the cancel
        }
        file.write(piece);
        count = checkedAdd(count, static_cast<std::int64_t>(piece.size()));
        BytesReceived_ = count;

        const double elapsed = host().monotonicSeconds() - StartTime_;
        BytesPerSecond_ = divideToSingle(count, elapsed);
        const std::int32_t left =
            checkedAdd(checkedAdd(FileSize_, -std::int64_t{offset}), -std::int64_t{count});
        SecondsLeft_ = divideToSingle(left, BytesPerSecond_);

        raise(eventid::Rate, FormatRate(static_cast<double>(BytesPerSecond_), decimalPoint_));
        raise(eventid::TimeLeft, FormatTimeLeft(SecondsLeft_));
        const std::int32_t position = checkedAdd(count, offset);
        raise(eventid::RecievedBytes, position);
        if (FileSize_ == 0) throw ComError(hr::DivisionByZero, "Division by zero");
        raise(eventid::Percent, roundToLong(static_cast<double>(position) / FileSize_ * 100.0));
        raiseStatus(texts.receiving);
        waitWhilePaused(file, texts.paused);

        // A piece of fewer than two bytes is the end of the body, except that with a CHUNK of 1
        // every piece has one byte: only an empty piece ends that download.
        const std::size_t endBelow = chunk == 1 ? 1 : 2;
        if (piece.size() < endBelow && !interrupted) break;
    }
    stillOurs();
    // A body that ends before the length the probe announced is broken, never complete.
    if (std::int64_t{offset} + count < expectedSize)
        throw ComError(hr::Fail, "the body ended before its announced length");
    // The file holds exactly what this run wrote from its offset on, and is still the file
    // this run opened.
    file.finish();
    InDL_ = VFalse;
    raise(eventid::DLComplete);
    raiseStatus(texts.done);
    cancelRequest();
}

void DownLoad::DownLoadFile() {
    auto alive = keepAlive();
    if (ccancel_) return;  // a pending cancel: only the probe clears it
    std::optional<TargetFile> file;
    auto errorExit = [&](const std::string& status) {
        file.reset();  // writes out every byte read and cuts the file there; it stays for a resume
        raiseError("Erro ao puxar arquivo de: " + Url_);
        raiseStatus(status);
        raiseCode(1);
        cancelRequest();
    };
    try {
        if (!passesConnectionGate("Conexão com a Internet não encontrada!")) return;
        i1_->setUrl(Url_);
        const std::int32_t chunk = CHUNK_;
        std::string target = SaveLocation_;
        // Only the response of a successful probe, unread, is the file: without one (no probe,
        // a refused or failed probe, a body already read) stop before touching an existing file.
        if (unreadProbedRequest_ == 0 || unreadProbedRequest_ != requestSerial_)
            throw ComError(hr::Fail, "no probed response to save");
        const std::uint64_t request = unreadProbedRequest_;
        unreadProbedRequest_ = 0;
        // The dialogs let the host run: a call made meanwhile may replace the response, and the
        // name confirmed for the old one must not receive the new one.
        auto stillOurs = [&] {
            if (requestSerial_ != request) throw ResponseReplaced();
        };
        if (KeepType_ == VTrue) target = KeepTypeName(Url_, target);
        // Only a name the user chose to write over is opened as it stands; otherwise the file is
        // created new, so a file planted at the name after the check is never written into.
        bool inPlace = false;

        if (regularFileExists(target)) {
            if (PromptOverwrite_ == VFalse) {
                if (std::remove(target.c_str()) != 0)
                    throw ComError(hr::FileError, "cannot delete " + target);
            } else if (!host().canAsk()) {
                // Nobody to ask: keep the user's file rather than overwrite it without consent.
                throw KeptExistingFile{target};
            } else if (host().messageBox("Você quer substituir o arquivo: " + target + " ?",
                                         mb::YesNo | mb::Information,
                                         "Substituir?") == MsgBoxResult::Yes) {
                stillOurs();
                if (std::remove(target.c_str()) != 0)
                    throw ComError(hr::FileError, "cannot delete " + target);
            } else {
                for (;;) {
                    // A host that can no longer ask (its input ended) keeps the file.
                    if (!host().canAsk()) throw KeptExistingFile{target};
                    std::string answer = host().inputBox(
                        "Por favor digite um novo nome de arquivo.\r\nExemplo: C:\\Arquivo2.txt",
                        "Novo Arquivo...", target);
                    if (!(answer > " ")) {
                        host().messageBox("Você não especificou um arquivo!",
                                          mb::OkOnly | mb::Exclamation, "Erro!");
                        continue;
                    }
                    if (answer == target) {
                        if (host().messageBox(
                                "Você digitou o mesmo arquivo! Você gostaria de colocar "
                                "outro nome para o arquivo?",
                                mb::YesNo | mb::Critical, "Tentar De Novo?") == MsgBoxResult::Yes)
                            continue;
                        if (!host().canAsk()) throw KeptExistingFile{target};
                        inPlace = true;
                        break;
                    }
                    target = answer;
                    inPlace = true;
                    break;
                }
            }
        }
        stillOurs();

        // Refuses a link, a FIFO, a device, a socket or a folder at the name, touching nothing.
        file.emplace(target, inPlace ? TargetFile::Mode::Create : TargetFile::Mode::New);
        file->start(0);
        written_ = {Url_, target, strongValidator()};
        raiseStatus("Puxando Arquivos...");
        InDL_ = VTrue;
        pieceLoop(*file, request, chunk, 0,
                  {"Puxando Arquivos...", "Em Pausa.", "Download Concluído!"});
    } catch (const KeptExistingFile& kept) {
        errorExit("Arquivo existente mantido: " + kept.path);
    } catch (...) {
        // A replaced response too: the bytes of the original one already read stay in the file.
        errorExit("Erro ao puxar o arquivo!");
    }
}

void DownLoad::DLResume() {
    auto alive = keepAlive();
    if (ccancel_) return;
    std::optional<TargetFile> file;
    auto errorExit = [&] {
        // Writes out every byte read and cuts the file there; it stays for another resume.
        file.reset();
        raiseError("Erro Ao Puxar Arquivo de: " + Url_);
        raiseStatus("Download Abortado Devido a Erro!");
        raiseCode(1);
        cancelRequest();
    };
    try {
        if (!passesConnectionGate("Conexão com a Internet não econtrada!")) return;
        i1_->setUrl(Url_);
        const std::int32_t chunk = CHUNK_;
        const std::string target = SaveLocation_;
        // The partial file is opened once, here: it is measured, written and checked through
        // this descriptor, so a file swapped under the name later never receives the rest.
        try {
            file.emplace(target, TargetFile::Mode::Existing);
        } catch (const TargetFile::Missing&) {
            raiseError("Arquivo Resume Não Encontrado!");
            raiseCode(6);
            raiseStatus("Arquivo Resume não econtrado, Abortando Download!");
            return;
        }
        if (ResumeSupported_ == VFalse) {
            file.reset();
            raiseError("Resume Não Suportado!");
            raiseCode(7);
            raiseStatus("Resume Não Suportado, Abortando Download!");
            return;
        }
        const std::uint64_t beforeProbe = requestSerial_;
        GetFileInformation();
        // The version the server has now, against the one the partial file came from. Only a
        // strong validator names one version: without one the rest asked for may belong to
        // another build of the same length, and two builds would be joined into one file. The
        // resume is refused then, and the host starts over. A probe that refused or dropped its
        // answer leaves none; one ended by a cancel leaves its answer to read.
        std::string validator;
        if (requestSerial_ == beforeProbe + 1) {
            try {
                validator = strongValidator();
            } catch (const ComError&) {
                // the answer failed: no validator
            }
        }
        const bool knownVersion = written_.url == Url_ && written_.path == target;
        const bool sameVersion = !validator.empty() && (!knownVersion || written_.tag == validator);
        cancelRequest();
        while (i1_->stillExecuting()) host().yield();
        host().yield();

        const std::int64_t length = file->length();
        const std::int32_t offset = checkedAdd(0, length - std::int64_t{ROLLBACK_});
        if (offset > length || !sameVersion) {
            // Asking from beyond the end would leave a hole of zeros in the file; the rest of
            // another version of the file would join two files into one.
            raiseStatus("Resume Falhou.");
            return;
        }
        std::string range = "Range: bytes=" + std::to_string(offset) + "-";
        // Should the file change between the probe and this request, the server answers with
        // the whole new file (200), which is refused below like any other unusable answer.
        range += "\nIf-Range: " + validator;
        executeRequest(range);
        const std::uint64_t request = requestSerial_;
        auto honourCancel = [&] {
            ccancel_ = VFalse;
            raiseCode(4);
            raiseStatus("Cancelado.");
        };
        // A cancel need not wait for a server that is slow to answer.
        while (i1_->stillExecuting() && !ccancel_) host().yield();
        if (ccancel_) return honourCancel();
        if (requestSerial_ != request) throw ResponseReplaced();
        const std::string header = i1_->getHeader();
        while (i1_->stillExecuting() && !ccancel_) host().yield();
        if (ccancel_) return honourCancel();
        if (requestSerial_ != request) throw ResponseReplaced();

        const std::int32_t status =
            Variant(header.size() >= 12 ? header.substr(9, 3) : std::string()).toLong();
        // The 206 must be the rest of the very file the probe measured: from where we asked to
        // its end, with a body as long as that range, and the same total length (a file changed
        // on the server has another one). Anything else would end in a file that looks
        // complete and is not.
        long long first = 0, last = 0, total = 0;
        const bool agreed =
            status == 206 && lengthIsAgreed(header) &&
            parseContentRange(i1_->getHeader("Content-Range"), first, last, total) &&
            first == offset && last + 1 == total && total == FileSize_ &&
            i1_->getHeader("Content-Length") == std::to_string(last - first + 1);
        if (!agreed) {
            raiseStatus("Resume Falhou.");
            return;
        }
        // The file must still be as long as when it was measured, or the rest would follow a
        // hole of zeros.
        if (file->length() < offset)
            throw ComError(hr::FileError, "the partial file shrank: " + target);

        file->start(offset);
        if (!knownVersion) written_ = {Url_, target, validator};
        raiseStatus("Resumindo " + target + ".");
        InDL_ = VTrue;
        pieceLoop(*file, request, chunk, offset,
                  {"Recebendo Arquivo.", "Paused.", "Download Terminado!"});
    } catch (...) {
        errorExit();
    }
}

}  // namespace carvo
