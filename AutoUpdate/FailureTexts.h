#pragma once
// What the wizard says when a step fails: the three texts for each code a control reports
// (shown on the version check's and the download's labels), and the status line of a refused
// update. The texts of a refused check are UpdateVerifier's (kVerifyFailure*).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace veltrup {

struct FailureTexts {
    const char* title;
    const char* text;
    const char* advice;
};

inline constexpr const char* kAdviceRetry =
    "Você pode clicar o botão 'Avançar' para tentar novamente.";
inline constexpr const char* kAdviceLater =
    "Você pode clicar o botão 'Avançar' para tentar novamente agora, ou pode aguardar e repetir o "
    "processo mais tarde. O Servidor pode estar sob manutenção.";
inline constexpr const char* kAdviceRestart =
    "Você pode clicar o botão 'Avançar' para reiniciar o Download.";
inline constexpr const char* kAdviceConnect =
    "Você deve se conectar a Internet, e em seguida clicar o botão 'Avançar'.";

inline constexpr const char* kAdviceProxy =
    "Verifique o usuário e a senha do Proxy (variáveis http_proxy e https_proxy), e em seguida "
    "clique o botão 'Avançar' para tentar novamente.";

// The failures the wizard explains; any other code is not shown.
inline std::optional<FailureTexts> failureTexts(std::int32_t code) {
    switch (code) {
        case 1:
            return FailureTexts{
                "Erro:",
                "Não foi possível acessar o arquivo, tenha certeza de que você está "
                "conectado a Internet!",
                kAdviceRetry};
        case 2:
            return FailureTexts{"Erro:", "O Arquivo não foi encontrado no servidor.", kAdviceLater};
        case 3:
            return FailureTexts{
                "Erro:", "O tempo máximo para se estabelecer a conexão foi atingido, sem sucesso.",
                kAdviceLater};
        case 4:
            return FailureTexts{"Download Cancelado!", "Você optou por cancelar o Download.",
                                kAdviceRestart};
        case 5:
            return FailureTexts{"Erro:", "Não foi detectada conexão com a Internet!",
                                kAdviceConnect};
        case 401:
            return FailureTexts{"Erro:", "Acesso Não Autorizado.", kAdviceLater};
        case 403:
            return FailureTexts{"Erro:", "Acesso Negado.", kAdviceLater};
        case 407:
            // The proxy, not the server, refused: the user's proxy settings are what to mend.
            return FailureTexts{"Erro:", "Acesso Não Autorizado Pelo Proxy.", kAdviceProxy};
        default:
            return std::nullopt;
    }
}

// ---- The version check (step 1) ------------------------------------------------------------
// A version file refused as it arrived, for a cause the server gave; each one is deleted, and
// the next address in links.ini is tried before any of these is shown. Then the local causes,
// which no other server can mend. Each keeps "&Avançar" enabled for a retry.

inline constexpr const char* kAdviceServerLater =
    "Você pode clicar o botão 'Avançar' para tentar novamente agora, ou pode aguardar e repetir o "
    "processo mais tarde. O Servidor pode estar desatualizado ou sob manutenção.";
inline constexpr const char* kAdviceReinstall =
    "Reinstale o Parvix 2002 ou entre em contato com o suporte técnico. Depois, você pode clicar "
    "o botão 'Avançar' para tentar novamente.";

// links.ini holds a key, and the version file carries no statement signed with it.
inline constexpr FailureTexts kUnsignedVersionFileTexts{
    "Erro:", "O arquivo de versão recebido não está assinado pelo fabricante e foi apagado.",
    kAdviceServerLater};
// No key of links.ini verifies the statement (or Version or Shell were changed after signing).
inline constexpr FailureTexts kBadSignatureTexts{
    "Erro:", "A assinatura do arquivo de versão não confere. O arquivo foi apagado.",
    kAdviceServerLater};
// The statement's expiry, plus the hour allowed for a clock that runs ahead, is past.
inline constexpr FailureTexts kExpiredVersionFileTexts{
    "Erro:",
    "O arquivo de versão expirou e foi apagado. A data ou a hora do seu computador pode estar "
    "errada, ou o Servidor ainda não recebeu um arquivo de versão atualizado.",
    "Confira a data e a hora do seu computador e clique o botão 'Avançar' para tentar novamente, "
    "ou aguarde e repita o processo mais tarde."};
// The statement was made for another product of the same maker.
inline constexpr FailureTexts kWrongProductTexts{
    "Erro:", "O arquivo de versão recebido não pertence ao Parvix 2002 e foi apagado.",
    kAdviceServerLater};
// links.ini requires an expiry, and the statement has none (an old one, served again).
inline constexpr FailureTexts kExpiryRequiredTexts{
    "Erro:", "O arquivo de versão recebido não tem data de validade e foi apagado.",
    kAdviceServerLater};
// A value of the version file (or of the key in links.ini) that does not parse.
inline constexpr FailureTexts kDamagedVersionFileTexts{
    "Erro:", "O arquivo de versão recebido está danificado e foi apagado.", kAdviceServerLater};
// The version offered is not a number Veltrup can compare ("5.0.1", "abc", beyond 32 bits).
inline constexpr FailureTexts kInvalidOfferedVersionTexts{
    "Erro:", "O arquivo de versão recebido não informa uma versão válida e foi apagado.",
    kAdviceServerLater};
// The Shell the version file names is not a plain file name of the update's own (a path, or
// links.ini, Update.ini, the program). Shown at the version check, and at the download if the
// name reaches it.
inline constexpr FailureTexts kUnsafeNameTexts{
    "Erro:", "O nome do arquivo de atualização indicado pelo Servidor não é permitido.",
    kAdviceServerLater};
// The version file is larger than kMaxVersionFileBytes (announced or arriving).
inline constexpr FailureTexts kVersionFileTooLargeTexts{
    "Erro:", "O arquivo de versão recebido é maior do que o permitido e foi apagado.",
    kAdviceServerLater};

// The installed version's record exists but cannot be read or is not a version.
inline constexpr FailureTexts kInstalledVersionUnreadableTexts{
    "Erro:", "Não foi possível ler a versão instalada do Parvix 2002.", kAdviceReinstall};
// links.ini is there but cannot be read (too large, not a regular file).
inline constexpr FailureTexts kLinksFileUnreadableTexts{
    "Erro:", "Não foi possível ler o arquivo links.ini, na pasta do programa.", kAdviceReinstall};
// Something that is not a regular file (a link, a folder) stands where Update.ini is saved.
inline constexpr FailureTexts kVersionFileBlockedTexts{
    "Erro:",
    "Não foi possível gravar o arquivo de versão (Update.ini): há um atalho ou uma pasta em seu "
    "lugar.",
    "Remova o atalho ou a pasta chamada Update.ini e clique o botão 'Avançar' para tentar "
    "novamente."};

// The status line after the version file was refused.
inline constexpr const char* kVersionRefusedStatus = "Arquivo de Versão Recusado!";

// The status line after the downloaded file was refused by its check.
inline constexpr const char* kRefusedStatus = "Arquivo de Atualização Recusado!";

}  // namespace veltrup

// ---- The update download's own texts --------------------------------------------------------

namespace veltrup {

// The status line while the version file names more than one address of the installer: which
// of them the download is on, after the control's own status ("Puxando Arquivos... - Servidor
// 2 de 3").
inline std::string serverStatus(const std::string& status, std::size_t index, std::size_t count) {
    return status + " - Servidor " + std::to_string(index + 1) + " de " + std::to_string(count);
}

// Every address offered a file of another size than the signed one: the wrong file.
inline constexpr FailureTexts kWrongSizeFailure{
    "Erro:", "O servidor oferece um arquivo de atualização de tamanho diferente do publicado.",
    kAdviceLater};
// More bytes arrived than the signed size: the transfer was stopped and the file deleted.
inline constexpr FailureTexts kOversizeFailure{
    "Erro:", "O arquivo de atualização recebido é maior que o publicado e foi apagado.",
    kAdviceLater};

}  // namespace veltrup
