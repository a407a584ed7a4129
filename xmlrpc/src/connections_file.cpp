// Readers of the connections file (BugzillaConnections.txt): XML with elements only, so the
// plug-in may join its lines with nothing between them. One expat pass collects every
// <connection>, the <velloran_server> section and any fault; each reader then takes its part.
#include <XmlRpc/AsciiCase.h>
#include <XmlRpc/XmlRpcValue.h>

#include <expat.h>

#include <climits>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace XmlRpc {

namespace {

constexpr size_t kMaxFileBytes = 1024 * 1024;  // configuration, not data: bigger is a mistake
constexpr const char* kFileName = "BugzillaConnections.txt";
constexpr const char* kRootElement = "bugzilla_connections";
constexpr const char* kConnectionElement = "connection";
constexpr const char* kServerElement = "velloran_server";

enum class MemberKind { Text, Port, PositiveInt, Flag, Authentication, WebService };

struct MemberRule {
  const char* name;
  MemberKind kind;
};

const MemberRule kConnectionMembers[] = {
    {"name", MemberKind::Text},
    {"server_url", MemberKind::Text},
    {"port", MemberKind::Port},
    {"web_service_extension", MemberKind::Text},
    {"product", MemberKind::Text},
    {"connect_timeout_seconds", MemberKind::PositiveInt},
    {"timeout_seconds", MemberKind::PositiveInt},
    {"max_response_mb", MemberKind::PositiveInt},
    {"ca_file", MemberKind::Text},
    {"verify_tls", MemberKind::Flag},
    {"authentication", MemberKind::Authentication},
    {"web_service", MemberKind::WebService},
};

const MemberRule kServerMembers[] = {
    {"ip_address", MemberKind::Text},
    {"port", MemberKind::Port},
};

template <size_t N>
const MemberRule* findRule(const MemberRule (&rules)[N], const std::string& name) {
  for (const MemberRule& rule : rules)
    if (name == rule.name) return &rule;
  return nullptr;
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && isXmlSpace(text[first])) ++first;
  while (last > first && isXmlSpace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// A value quoted in a message, shortened so that a runaway value keeps the message readable.
std::string quoted(const std::string& value) {
  constexpr size_t kShown = 60;
  if (value.size() <= kShown) return "\"" + value + "\"";
  return "\"" + value.substr(0, kShown) + "...\"";
}

// Plain decimal digits only: no sign, no spaces inside, no hex. Returns false when the text
// is not such a number; `value` is LLONG_MAX-capped so range checks stay simple.
bool parseDecimal(const std::string& text, long long& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (value <= INT_MAX) value = value * 10 + (c - '0');
  }
  return true;
}

// One of two spellings in any letter case, stored in lower case so that readers compare one
// spelling.
bool convertChoice(const std::string& name, const std::string& text, const char* first,
                   const char* second, XmlRpcValue& out, std::string& problem) {
  for (const char* kind : {first, second}) {
    if (equalsIgnoringAsciiCase(text, kind)) {
      out = kind;
      return true;
    }
  }
  problem = name + " is neither " + first + " nor " + second + ": " + quoted(text);
  return false;
}

// Converts one member's trimmed text; on a bad value returns false with `problem` set.
bool convertMember(const MemberRule& rule, const std::string& text, XmlRpcValue& out,
                   std::string& problem) {
  const std::string name = rule.name;
  switch (rule.kind) {
    case MemberKind::Text:
      out = text;
      return true;
    case MemberKind::Flag:
      if (equalsIgnoringAsciiCase(text, "true") || equalsIgnoringAsciiCase(text, "false")) {
        out = equalsIgnoringAsciiCase(text, "true");
        return true;
      }
      problem = name + " is neither true nor false: " + quoted(text);
      return false;
    case MemberKind::Authentication:
      return convertChoice(name, text, "password", "api_key", out, problem);
    case MemberKind::WebService:
      return convertChoice(name, text, "xmlrpc", "rest", out, problem);
    case MemberKind::Port:
    case MemberKind::PositiveInt: {
      const bool isPort = rule.kind == MemberKind::Port;
      const long long low = isPort ? 0 : 1;
      const long long high = isPort ? 65535 : INT_MAX;
      long long number = 0;
      if (!parseDecimal(text, number)) {
        problem = name + " is not a number: " + quoted(text);
        return false;
      }
      if (number < low || number > high) {
        problem = name + " is out of range (" + std::to_string(low) + " to " +
                  std::to_string(high) + "): " + quoted(text);
        return false;
      }
      out = static_cast<int>(number);
      return true;
    }
  }
  return false;
}

// One <connection> or the <velloran_server> section while it is read.
struct Section {
  XmlRpcValue members;
  std::vector<std::string> given;  // member names met so far, for "given twice"
  std::string firstName;           // the first "name" written, for messages
  std::string problem;             // the first thing wrong, without the section's label
  bool nameGiven = false;

  void addProblem(const std::string& text) {
    if (problem.empty()) problem = text;
  }
  bool alreadyGiven(const std::string& member) const {
    for (const std::string& g : given)
      if (g == member) return true;
    return false;
  }
};

// What one pass over the text found.
struct ParsedFile {
  enum Outcome { Complete, NoRoot, Broken, Refused };
  Outcome outcome = Complete;
  std::string outcomeFault;          // for Broken and Refused
  std::vector<XmlRpcValue> entries;  // connection structs and file-level faults, in file order
  bool anyBadEntry = false;
  std::string firstFileFault;        // wrong root, unknown top-level element, stray text
  bool serverSeen = false;
  XmlRpcValue server;                // members of <velloran_server>, with "fault" when bad
  bool serverBad = false;
};

class ConnectionsFileParser {
public:
  explicit ConnectionsFileParser(ParsedFile& result) : result_(result) {}

  void parse(const std::string& text) {
    if (text.size() > kMaxFileBytes) {
      refuse(std::string(kFileName) + " is larger than 1 MiB; refused");
      return;
    }
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                        &XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    parser_ = parser.get();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &onStart, &onEnd);
    XML_SetCharacterDataHandler(parser_, &onText);
    // Entity declarations can only come with a DOCTYPE; refusing it stops expansion bombs.
    XML_SetStartDoctypeDeclHandler(parser_, &onDoctype);
    XML_SetEntityDeclHandler(parser_, &onEntityDecl);

    const XML_Status status =
        XML_Parse(parser_, text.data(), static_cast<int>(text.size()), XML_TRUE);
    if (failure_) std::rethrow_exception(failure_);
    if (refused_) {
      refuse(std::string(kFileName) +
             " declares a DOCTYPE or entities, which are not accepted; refused");
      return;
    }
    if (status != XML_STATUS_OK) {
      if (!rootOpened_) {
        result_.outcome = ParsedFile::NoRoot;
        return;
      }
      result_.outcome = ParsedFile::Broken;
      result_.outcomeFault = std::string(kFileName) + " is not well-formed XML: " +
                             XML_ErrorString(XML_GetErrorCode(parser_)) + " at " + position();
    }
  }

private:
  enum class Context { Root, Connection, Server, Member, Skipped };

  static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char**) {
    static_cast<ConnectionsFileParser*>(self)->guarded([&](ConnectionsFileParser& p) {
      p.startElement(name);
    });
  }
  static void XMLCALL onEnd(void* self, const XML_Char*) {
    static_cast<ConnectionsFileParser*>(self)->guarded([](ConnectionsFileParser& p) {
      p.endElement();
    });
  }
  static void XMLCALL onText(void* self, const XML_Char* text, int length) {
    static_cast<ConnectionsFileParser*>(self)->guarded([&](ConnectionsFileParser& p) {
      p.characters(text, static_cast<size_t>(length));
    });
  }
  static void XMLCALL onDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                int) {
    static_cast<ConnectionsFileParser*>(self)->stopRefused();
  }
  static void XMLCALL onEntityDecl(void* self, const XML_Char*, int, const XML_Char*, int,
                                   const XML_Char*, const XML_Char*, const XML_Char*,
                                   const XML_Char*) {
    static_cast<ConnectionsFileParser*>(self)->stopRefused();
  }

  // No exception may unwind through expat's C frames: keep it and rethrow after parsing.
  template <typename Action>
  void guarded(Action action) {
    if (failure_ || refused_) return;
    try {
      action(*this);
    } catch (...) {
      failure_ = std::current_exception();
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  void stopRefused() {
    if (refused_) return;
    refused_ = true;
    XML_StopParser(parser_, XML_FALSE);
  }

  void refuse(const std::string& message) {
    result_.outcome = ParsedFile::Refused;
    result_.outcomeFault = message;
  }

  std::string position() const {
    const auto line = XML_GetCurrentLineNumber(parser_);
    const auto column = XML_GetCurrentColumnNumber(parser_) + 1;  // expat counts from 0
    std::string where = line > 1 ? "line " + std::to_string(line) + ", " : std::string();
    return where + "column " + std::to_string(column);
  }

  Context top() const { return stack_.back(); }

  void fileFault(const std::string& text) {
    const std::string message = std::string(kFileName) + ": " + text;
    if (result_.firstFileFault.empty()) result_.firstFileFault = message;
    XmlRpcValue entry;
    entry["fault"] = message;
    result_.entries.push_back(std::move(entry));
    result_.anyBadEntry = true;
  }

  // Text between elements must be white space only.
  void flushStrayText() {
    const std::string text = trimmed(stray_);
    stray_.clear();
    if (text.empty()) return;
    if (top() == Context::Root)
      fileFault("unexpected text " + quoted(text) + " in <" + kRootElement + ">");
    else
      section_.addProblem("unexpected text " + quoted(text));
  }

  void startElement(const std::string& name) {
    if (stack_.empty()) {
      rootOpened_ = true;
      if (name == kRootElement) {
        stack_.push_back(Context::Root);
      } else {
        fileFault("the root element is <" + name + ">, expected <" + kRootElement + ">");
        stack_.push_back(Context::Skipped);
      }
      return;
    }
    switch (top()) {
      case Context::Skipped:
        stack_.push_back(Context::Skipped);
        return;
      case Context::Root:
        flushStrayText();
        startSection(name);
        return;
      case Context::Connection:
      case Context::Server:
        flushStrayText();
        startMember(name);
        return;
      case Context::Member:
        section_.addProblem(memberRule_->name + std::string(" holds a nested element <") + name +
                            ">");
        memberBad_ = true;
        stack_.push_back(Context::Skipped);
        return;
    }
  }

  void startSection(const std::string& name) {
    if (name == kConnectionElement) {
      section_ = Section();
      ++connectionNumber_;
      stack_.push_back(Context::Connection);
    } else if (name == kServerElement) {
      if (result_.serverSeen) {
        // The first section has closed already (a nested one would be an unknown member).
        if (!result_.serverBad)
          result_.server["fault"] = std::string(kServerElement) + " is given twice";
        result_.serverBad = true;
        stack_.push_back(Context::Skipped);
        return;
      }
      section_ = Section();
      result_.serverSeen = true;
      stack_.push_back(Context::Server);
    } else {
      fileFault("unknown element <" + name + "> in <" + kRootElement + ">");
      stack_.push_back(Context::Skipped);
    }
  }

  void startMember(const std::string& name) {
    const MemberRule* rule = top() == Context::Connection ? findRule(kConnectionMembers, name)
                                                          : findRule(kServerMembers, name);
    if (!rule) {
      section_.addProblem("unknown element <" + name + ">");
      stack_.push_back(Context::Skipped);
      return;
    }
    if (section_.alreadyGiven(name)) {
      section_.addProblem(name + " is given twice");
      stack_.push_back(Context::Skipped);
      return;
    }
    section_.given.push_back(name);
    memberRule_ = rule;
    memberText_.clear();
    memberBad_ = false;
    stack_.push_back(Context::Member);
  }

  void endElement() {
    const Context closing = top();
    switch (closing) {
      case Context::Member:
        stack_.pop_back();
        endMember();
        return;
      case Context::Connection:
        flushStrayText();
        stack_.pop_back();
        endConnection();
        return;
      case Context::Server:
        flushStrayText();
        stack_.pop_back();
        endServer();
        return;
      case Context::Root:
        flushStrayText();
        stack_.pop_back();
        return;
      case Context::Skipped:
        stack_.pop_back();
        return;
    }
  }

  void endMember() {
    if (memberBad_) return;
    const std::string text = trimmed(memberText_);
    const std::string name = memberRule_->name;
    if (name == "name" && !section_.nameGiven) {
      section_.nameGiven = true;
      section_.firstName = text;
    }
    XmlRpcValue value;
    std::string problem;
    if (convertMember(*memberRule_, text, value, problem))
      section_.members[name] = std::move(value);
    else
      section_.addProblem(problem);
  }

  // The message is built only now: the name may come after the bad member.
  void endConnection() {
    XmlRpcValue entry = std::move(section_.members);
    entry.assertStruct();
    if (!section_.problem.empty()) {
      const std::string label = "connection " + std::to_string(connectionNumber_) + " (" +
                                (section_.nameGiven ? quoted(section_.firstName) : "no name") +
                                ")";
      entry["fault"] = label + ": " + section_.problem;
      result_.anyBadEntry = true;
    }
    result_.entries.push_back(std::move(entry));
  }

  void endServer() {
    XmlRpcValue server = std::move(section_.members);
    server.assertStruct();
    if (section_.problem.empty() && !server.hasMember("ip_address"))
      section_.addProblem("ip_address is missing");
    if (!section_.problem.empty()) {
      server["fault"] = std::string(kServerElement) + ": " + section_.problem;
      result_.serverBad = true;
    }
    result_.server = std::move(server);
  }

  void characters(const char* text, size_t length) {
    if (stack_.empty()) return;
    switch (top()) {
      case Context::Member: memberText_.append(text, length); return;
      case Context::Root:
      case Context::Connection:
      case Context::Server: stray_.append(text, length); return;
      case Context::Skipped: return;
    }
  }

  ParsedFile& result_;
  XML_Parser parser_ = nullptr;
  std::exception_ptr failure_;
  bool refused_ = false;
  bool rootOpened_ = false;
  std::vector<Context> stack_;
  std::string stray_;
  Section section_;
  int connectionNumber_ = 0;
  const MemberRule* memberRule_ = nullptr;
  std::string memberText_;
  bool memberBad_ = false;
};

ParsedFile parseConnectionsFile(const std::string& text) {
  ParsedFile result;
  ConnectionsFileParser(result).parse(text);
  return result;
}

XmlRpcValue faultEntry(const std::string& message) {
  XmlRpcValue entry;
  entry["fault"] = message;
  return entry;
}

}  // namespace

int XmlRpcValue::connectionList(const std::string& text) {
  ParsedFile parsed = parseConnectionsFile(text);
  clear();
  switch (parsed.outcome) {
    case ParsedFile::NoRoot:
      return kConnectionsNoRoot;
    case ParsedFile::Refused:
      asArray().push_back(faultEntry(parsed.outcomeFault));
      return kConnectionsRefused;
    case ParsedFile::Broken:
    case ParsedFile::Complete:
      break;
  }
  ValueArray& list = asArray();
  list = std::move(parsed.entries);
  if (parsed.outcome == ParsedFile::Broken) {
    list.push_back(faultEntry(parsed.outcomeFault));
    return kConnectionsBrokenXml;
  }
  return parsed.anyBadEntry ? kConnectionsBadEntry : kConnectionsOk;
}

int XmlRpcValue::serverInfo(const std::string& text) {
  ParsedFile parsed = parseConnectionsFile(text);
  clear();
  switch (parsed.outcome) {
    case ParsedFile::NoRoot:
      (*this)["fault"] = std::string(kFileName) + " holds no XML element";
      return kConnectionsNoRoot;
    case ParsedFile::Refused:
      (*this)["fault"] = parsed.outcomeFault;
      return kConnectionsRefused;
    case ParsedFile::Broken:
      (*this)["fault"] = parsed.outcomeFault;
      return kConnectionsBrokenXml;
    case ParsedFile::Complete:
      break;
  }
  if (!parsed.firstFileFault.empty()) {
    (*this)["fault"] = parsed.firstFileFault;
    return kConnectionsBadEntry;
  }
  if (!parsed.serverSeen) {
    (*this)["fault"] = std::string(kFileName) + " has no <" + kServerElement + "> section";
    return kConnectionsNoServerSection;
  }
  *this = std::move(parsed.server);
  return parsed.serverBad ? kConnectionsBadEntry : kConnectionsOk;
}

}  // namespace XmlRpc
