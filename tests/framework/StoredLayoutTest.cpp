#include <gtest/gtest.h>

#include "kelvora/Component.h"
#include "kelvora/Properties.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/Streams.h"
#include "kelvora/StringList.h"

using namespace kelvora;

namespace {

enum TColour { clRed, clGreen, clBlue };

class TOptions : public TPersistent {
 public:
  int Port = 8080;
  std::string Server;
  void DefineProperties(TPropertyList& L) override {
    L.Integer("Port", [this] { return Port; }, [this](int64_t v) { Port = static_cast<int>(v); }, 8080);
    L.String("Server", [this] { return Server; }, [this](const std::string& v) { Server = v; }, std::string());
  }
};

// A component whose setters record the order in which stored values arrive.
class TWidget : public TComponent {
 public:
  using TComponent::TComponent;
  bool Auto = false;
  int Delay = 10000;
  std::string Url = "http://";
  TColour Colour = clRed;
  uint32_t Flags = 0b101;
  std::string Secret;
  TOptions Options;
  TStringList Files;
  std::string log;
  int loadedCalls = 0;
  bool loadingDuringSet = false;

  void DefineProperties(TPropertyList& L) override {
    L.Boolean("Auto", [this] { return Auto; }, [this](bool v) { log += "Auto;"; Auto = v; loadingDuringSet = IsLoading(); }, false);
    L.Integer("Delay", [this] { return Delay; }, [this](int64_t v) { log += "Delay;"; Delay = static_cast<int>(v); }, 10000);
    L.String("Url", [this] { return Url; }, [this](const std::string& v) { log += "Url;"; Url = v; }, std::nullopt);
    L.Enum("Colour", {"clRed", "clGreen", "clBlue"}, [this] { return static_cast<int>(Colour); },
           [this](int v) { log += "Colour;"; Colour = static_cast<TColour>(v); }, clRed);
    L.Set("Flags", {"fA", "fB", "fC"}, [this] { return Flags; }, [this](uint32_t v) { log += "Flags;"; Flags = v; }, 0b101u);
    L.Object("Options", Options);
    L.Strings("Files", Files);
    L.Binary(
        "LInfo", [this](TStream& s) { s.WriteBuffer(Secret.data(), static_cast<int64_t>(Secret.size())); },
        [this](TStream& s) {
          Secret.assign(static_cast<size_t>(s.Size()), '\0');
          s.ReadBuffer(Secret.data(), s.Size());
        },
        [this] { return !Secret.empty(); });
  }
  void Loaded() override {
    TComponent::Loaded();
    ++loadedCalls;
  }
};

}  // namespace

TEST(StoredLayout, DefaultsAreLeftOutAndPropertiesWithoutDefaultAlwaysStored) {
  TWidget w(nullptr);
  auto stored = WriteProperties(w);
  EXPECT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored["Url"], "http://");
}

TEST(StoredLayout, RoundTripInDeclarationOrderWhateverTheTextOrder) {
  TWidget a(nullptr);
  a.SetName("W");
  a.Auto = true;
  a.Delay = 5;
  a.Url = "http://example.invalid/info.txt";
  a.Colour = clBlue;
  a.Flags = 0b010;
  a.Options.Server = "proxy";
  a.Files.Add("one=%current%two");
  a.Secret = std::string("p\0w\xff", 4);
  std::string text = WriteComponentText(a, "TWidget");
  EXPECT_NE(text.find("\"clBlue\""), std::string::npos) << "enumerations by value name";
  EXPECT_NE(text.find("\"fB\""), std::string::npos) << "sets by member names";
  EXPECT_EQ(text.find("Port"), std::string::npos) << "nested default left out";

  // Shuffle the order of the stored properties: reading applies them in
  // declaration order all the same.
  auto json = nlohmann::ordered_json::parse(text);
  nlohmann::ordered_json reversed = nlohmann::ordered_json::object();
  auto& props = json["Properties"];
  std::vector<std::string> keys;
  for (auto& [k, v] : props.items()) keys.push_back(k);
  for (auto k = keys.rbegin(); k != keys.rend(); ++k) reversed[*k] = props[*k];
  json["Properties"] = reversed;

  TWidget b(nullptr);
  b.SetName("W");
  ReadComponentText(b, json.dump());
  EXPECT_EQ(b.log, "Auto;Delay;Url;Colour;Flags;");
  EXPECT_TRUE(b.loadingDuringSet);
  EXPECT_FALSE(b.IsLoading());
  EXPECT_EQ(b.loadedCalls, 1);
  EXPECT_EQ(b.Colour, clBlue);
  EXPECT_EQ(b.Flags, 0b010u);
  EXPECT_EQ(b.Options.Server, "proxy");
  EXPECT_EQ(b.Options.Port, 8080);
  EXPECT_EQ(b.Files.Text(), "one=%current%two\r\n");
  EXPECT_EQ(b.Secret, std::string("p\0w\xff", 4));
}

TEST(StoredLayout, OwnedComponentsAreReadByNameAndLoadedBeforeTheirOwner) {
  TWidget form(nullptr);
  form.SetName("Form");
  auto* child = new TWidget(&form);
  child->SetName("Child");
  child->Delay = 42;
  std::string text = WriteComponentText(form);

  TWidget form2(nullptr);
  form2.SetName("Form");
  auto* child2 = new TWidget(&form2);
  child2->SetName("Child");
  ReadComponentText(form2, text);
  EXPECT_EQ(child2->Delay, 42);
  EXPECT_EQ(child2->loadedCalls, 1);
  EXPECT_EQ(form2.loadedCalls, 1);
}

TEST(StoredLayout, MalformedTextAndBadValuesRaiseReadErrors) {
  TWidget w(nullptr);
  EXPECT_THROW(ReadComponentText(w, "{not json"), EReadError);
  EXPECT_THROW(ReadComponentText(w, R"({"Properties":{"Colour":"clPurple"}})"), EReadError);
  EXPECT_THROW(ReadComponentText(w, R"({"Properties":{"Delay":"soon"}})"), EReadError);
  EXPECT_THROW(ReadComponentText(w, R"({"Properties":{"LInfo":"abc"}})"), EReadError);
  EXPECT_THROW(ReadComponentText(w, R"({"Components":[{"Name":"Ghost"}]})"), EReadError);
  EXPECT_FALSE(w.IsLoading()) << "a failed read leaves nothing loading";
  EXPECT_EQ(w.loadedCalls, 0);
}

TEST(Component, OwnerDestroysOwnedAndMarksThemDestroyingFirst) {
  struct TProbe : TComponent {
    bool* sawDestroying;
    TProbe(TComponent* o, bool* s) : TComponent(o), sawDestroying(s) {}
    ~TProbe() override { *sawDestroying = IsDestroying(); }
  };
  bool saw = false;
  auto* owner = new TComponent(nullptr);
  auto* p = new TProbe(owner, &saw);
  p->SetName("p");
  EXPECT_EQ(owner->FindComponent("p"), p);
  delete owner;
  EXPECT_TRUE(saw);

  TComponent owner2(nullptr);
  auto* q = new TComponent(&owner2);
  delete q;  // leaves its owner's list
  EXPECT_EQ(owner2.ComponentCount(), 0);
}
