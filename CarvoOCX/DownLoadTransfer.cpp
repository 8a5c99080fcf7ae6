// DownLoad and DLResume: the transfer loops. Both read the body of the response open on i1 in
// pieces of CHUNK bytes into the local file and report every pass through events.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
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

}  // namespace

bool DownLoad::passesConnectionGate(const char* errorText) {
    if (OnlineCheck_ == VFalse || Connected_ == VTrue) return true;
    raiseCode(5);
    raiseError(errorText);
    raiseStatus("Não há Conexão ativa com a Internet!");
    i1_->cancel();
    return false;
}

void DownLoad::waitWhilePaused(const char* pausedText) {
    while (CPause_ == VTrue) {
        host().yield();
        raiseStatus(pausedText);
        // The host's yield returns at once when nothing is pending; without a short rest a
        // paused download would keep a processor busy.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

void DownLoad::pieceLoop(TargetFile& file, std::int32_t chunk, std::int32_t offset,
                         const LoopTexts& texts) {
    std::int32_t count = 0;
    for (;;) {
        if (ccancel_) {
            ccancel_ = VFalse;
            file.close();
            raiseCode(4);
            raiseStatus("Cancelado.");
            return;
        }
        ByteArray piece = i1_->getChunk(chunk);
        file.write(piece);
        count = checkedAdd(count, static_cast<std::int64_t>(piece.size()));
        BytesReceived_ = count;

        const double elapsed = host().monotonicSeconds() - StartTime_;
        BytesPerSecond_ = divideToSingle(count, elapsed);
        const std::int32_t left = checkedAdd(checkedAdd(FileSize_, -std::int64_t{offset}), -std::int64_t{count});
        SecondsLeft_ = divideToSingle(left, BytesPerSecond_);

        raise(eventid::Rate, FormatRate(static_cast<double>(BytesPerSecond_), decimalPoint_));
        raise(eventid::TimeLeft, FormatTimeLeft(SecondsLeft_));
        const std::int32_t position = checkedAdd(count, offset);
        raise(eventid::RecievedBytes, position);
        if (FileSize_ == 0) throw ComError(hr::DivisionByZero, "Division by zero");
        raise(eventid::Percent, roundToLong(static_cast<double>(position) / FileSize_ * 100.0));
        raiseStatus(texts.receiving);
        waitWhilePaused(texts.paused);

        // A piece of fewer than two bytes is the end of the body, except that with a CHUNK of 1
        // every piece has one byte: only an empty piece ends that download.
        const std::size_t endBelow = chunk == 1 ? 1 : 2;
        if (piece.size() < endBelow) break;
    }
    // The file holds exactly what this run wrote from its offset on: bytes of an older, longer
    // file beyond that are cut off.
    file.finish();
    InDL_ = VFalse;
    raise(eventid::DLComplete);
    raiseStatus(texts.done);
    i1_->cancel();
}

void DownLoad::DownLoadFile() {
    if (ccancel_) return;  // a pending cancel: only the probe clears it
    std::optional<TargetFile> file;
    try {
        if (!passesConnectionGate("Conexão com a Internet não encontrada!")) return;
        i1_->setUrl(Url_);
        const std::int32_t chunk = CHUNK_;
        std::string target = SaveLocation_;
        // Without an open response there is nothing to save: stop before touching an existing
        // file (getHeader fails when no response is open).
        i1_->getHeader();
        if (KeepType_) target = KeepTypeName(Url_, target);

        if (regularFileExists(target)) {
            if (PromptOverwrite_ == VFalse) {
                if (std::remove(target.c_str()) != 0) throw ComError(hr::FileError, "cannot delete " + target);
            } else if (!host().canAsk()) {
                // Nobody to ask: keep the user's file rather than overwrite it without consent.
                throw KeptExistingFile{target};
            } else if (host().messageBox("Você quer substituir o arquivo: " + target + " ?",
                                         mb::YesNo | mb::Information, "Substituir?") == MsgBoxResult::Yes) {
                if (std::remove(target.c_str()) != 0) throw ComError(hr::FileError, "cannot delete " + target);
            } else {
                for (;;) {
                    std::string answer = host().inputBox(
                        "Por favor digite um novo nome de arquivo.\r\nExemplo: C:\\Arquivo2.txt",
                        "Novo Arquivo...", target);
                    if (!(answer > " ")) {
                        host().messageBox("Você não especificou um arquivo!",
                                          mb::OkOnly | mb::Exclamation, "Erro!");
                        continue;
                    }
                    if (answer == target) {
                        if (host().messageBox("Você digitou o mesmo arquivo! Você gostaria de colocar "
                                              "outro nome para o arquivo?",
                                              mb::YesNo | mb::Critical, "Tentar De Novo?") == MsgBoxResult::Yes)
                            continue;
                        break;
                    }
                    target = answer;
                    break;
                }
            }
        }

        file.emplace(target, 0);
        raiseStatus("Puxando Arquivos...");
        InDL_ = VTrue;
        pieceLoop(*file, chunk, 0, {"Puxando Arquivos...", "Em Pausa.", "Download Concluído!"});
    } catch (const KeptExistingFile& kept) {
        raiseError("Erro ao puxar arquivo de: " + Url_);
        raiseStatus("Arquivo existente mantido: " + kept.path);
        raiseCode(1);
        i1_->cancel();
    } catch (const std::exception&) {
        file.reset();  // closes the partial file; it stays for a resume
        raiseError("Erro ao puxar arquivo de: " + Url_);
        raiseStatus("Erro ao puxar o arquivo!");
        raiseCode(1);
        i1_->cancel();
    }
}

void DownLoad::DLResume() {
    if (ccancel_) return;
    std::optional<TargetFile> file;
    try {
        if (!passesConnectionGate("Conexão com a Internet não econtrada!")) return;
        i1_->setUrl(Url_);
        const std::int32_t chunk = CHUNK_;
        const std::string target = SaveLocation_;
        if (!regularFileExists(target)) {
            raiseError("Arquivo Resume Não Encontrado!");
            raiseCode(6);
            raiseStatus("Arquivo Resume não econtrado, Abortando Download!");
            return;
        }
        if (ResumeSupported_ == VFalse) {
            raiseError("Resume Não Suportado!");
            raiseCode(7);
            raiseStatus("Resume Não Suportado, Abortando Download!");
            return;
        }
        GetFileInformation();
        i1_->cancel();
        while (i1_->stillExecuting()) host().yield();
        host().yield();

        const std::int32_t offset = checkedAdd(0, fileLength(target) - std::int64_t{ROLLBACK_});
        i1_->execute("GET", "Range: bytes=" + std::to_string(offset) + "-");
        while (i1_->stillExecuting()) host().yield();
        const std::string header = i1_->getHeader();
        while (i1_->stillExecuting()) host().yield();

        const std::int32_t status = Variant(header.size() >= 12 ? header.substr(9, 3) : std::string()).toLong();
        // A 206 must also start where we asked: bytes from elsewhere would corrupt the file.
        const std::string contentRange = i1_->getHeader("Content-Range");
        const std::string expectedStart = "bytes " + std::to_string(offset) + "-";
        if (status != 206 || contentRange.rfind(expectedStart, 0) != 0) {
            raiseStatus("Resume Falhou.");
            return;
        }

        file.emplace(target, offset);
        raiseStatus("Resumindo " + target + ".");
        InDL_ = VTrue;
        pieceLoop(*file, chunk, offset, {"Recebendo Arquivo.", "Paused.", "Download Terminado!"});
    } catch (const std::exception&) {
        file.reset();
        raiseError("Erro Ao Puxar Arquivo de: " + Url_);
        raiseStatus("Download Abortado Devido a Erro!");
        raiseCode(1);
        i1_->cancel();
    }
}

}  // namespace carvo
