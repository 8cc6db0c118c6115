#include "console/core/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

using namespace ondaria;

TEST(Messages, CatalogueHasItsEntriesInOrderWithWellFormedKeys) {
  const auto catalogue = messageCatalogue();
  // The 106 messages of the first catalogue, then those added since.
  ASSERT_GE(catalogue.size(), 106u);
  EXPECT_EQ(catalogue.front().key, "ODINIC");
  EXPECT_EQ(catalogue[9].key, "OD_ESC");
  EXPECT_EQ(catalogue[49].key, "ODEIBASS");
  EXPECT_EQ(catalogue[105].key, "ODNIMPL");
  std::set<std::string_view> keys;
  for (const Message& m : catalogue) {
    EXPECT_TRUE(keys.insert(m.key).second) << "twice: " << m.key;
    EXPECT_GE(m.key.size(), 4u) << m.key;
    EXPECT_LE(m.key.size(), 8u) << m.key;
    EXPECT_EQ(m.key.substr(0, 2), "OD") << m.key;
    for (char c : m.key) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') << m.key;
    // One screen line, no control characters, and cp1252 rather than UTF-8
    // (a UTF-8 lead byte followed by a continuation byte would be mojibake).
    EXPECT_FALSE(m.text.empty()) << m.key;
    EXPECT_LE(m.text.size(), 80u) << m.key;
    for (size_t i = 0; i < m.text.size(); ++i) {
      const auto b = static_cast<unsigned char>(m.text[i]);
      EXPECT_GE(b, 0x20) << m.key;
      if (b >= 0xC2 && b <= 0xF4 && i + 1 < m.text.size()) {
        const auto next = static_cast<unsigned char>(m.text[i + 1]);
        EXPECT_FALSE(next >= 0x80 && next <= 0xBF) << "UTF-8 in " << m.key;
      }
    }
  }
}

TEST(Messages, TextsAreByteExact) {
  // Prompts keep their trailing blanks; accented letters are cp1252 bytes.
  const std::pair<const char*, const char*> golden[] = {
      {"ODINIC", "Ondaria - vers\xE3o "},
      {"ODOQUE", "Ondaria - Que deseja? "},
      {"ODNAOCON", "Aten\xE7\xE3o: seu computador n\xE3o est\xE1 conectado \xE0 internet."},
      {"ODOPC_P", "P - radios preferidas"},
      {"ODINFNUM", "Informe o n\xFAmero da r\xE1" "dio (entre 1 e 20): "},
      {"ODAMOSTR", "Amostragem:  "},
      {"ODCANAIS", "Canais:      "},
      {"ODTRANSP", "Transporte:  "},
      {"ODTAXAB", "Taxa:        "},
      {"ODREDENT", "As op\xE7\xF5" "es sao: R-remove, E-edita, C-clona, Enter-Toca."},
      {"ODFOLPRF", "Folheando as r\xE1" "dios preferidas.  F9 mostra op\xE7\xF5" "es"},
      {"ODAPTD", "Aperte D para destruir sem chance de voltar. "},
      {"ODOPVAL", "Op\xE7\xF5" "es v\xE1lidas: Informa\xE7\xF5" "es, Pausar, Tocar, Volume, Endere\xE7o."},
      {"ODNOMBUS", "Informe parte do nome a buscar (m\xEDnimo 3 letras): "},
      {"ODNIMPL", "N\xE3o implementado."},
      {"ODOPC_A", "A - atualizar a lista de r\xE1" "dios pelo diret\xF3rio ou por arquivo ATU"},
      {"ODOPC_N", "N - procurar no diret\xF3rio de r\xE1" "dios da internet"},
      // The start-up failure names what failed, and nothing else.
      {"ODEIBASS", "Erro: n\xE3o consegui abrir a sa\xED" "da de \xE1udio do computador."},
      {"ODRECNX", "Reconectando..."},
      {"ODRESPHT", "O servidor respondeu com o erro "},
  };
  for (const auto& [key, text] : golden) EXPECT_EQ(messageText(key), text) << key;

  // Every other entry of the first table is guarded by a checksum (FNV-1a
  // over key, zero, text, zero, in catalogue order) taken from the reviewed
  // table; entries added after it are checked by the tests of what uses them.
  uint64_t hash = 0xcbf29ce484222325ull;
  auto mix = [&hash](std::string_view bytes) {
    for (char c : std::string(bytes) + '\0') {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001b3ull;
    }
  };
  for (const Message& m : messageCatalogue().first(106)) {
    mix(m.key);
    mix(m.text);
  }
  EXPECT_EQ(hash, 0x85c4486186cd39e4ull);
}

TEST(Messages, UnknownKeysShowThemselves) {
  EXPECT_EQ(messageText("ODXYZ"), "--> Mensagem inv\xE1lida: ODXYZ");
  EXPECT_EQ(messageText("odok"), "--> Mensagem inv\xE1lida: odok");
  EXPECT_EQ(messageText(""), "--> Mensagem inv\xE1lida: ");
  EXPECT_EQ(messageText("ODOK"), "OK.");
  EXPECT_EQ(messageText("ODOK "), "--> Mensagem inv\xE1lida: ODOK ");
}
