#pragma once
// What the wizard says when a step fails: the three texts for each code a control reports
// (shown on the version check's and the download's labels), and the status line of a refused
// update. The texts of a refused check are UpdateVerifier's (kVerifyFailure*).

#include <cstdint>
#include <optional>

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

// The status line after the downloaded file was refused by its check.
inline constexpr const char* kRefusedStatus = "Arquivo de Atualização Recusado!";

}  // namespace veltrup
