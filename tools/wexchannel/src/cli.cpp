#include "cli.h"

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

#include "block_chain.h"
#include "channel_keys.h"
#include "config/channel_trailer.h"
#include "effective_config.h"
#include "file_io.h"
#include "pe_image.h"
#include "stamper.h"
#include "tool_error.h"

namespace wexchannel {

namespace fs = std::filesystem;

namespace {

constexpr const char* kVersion = "wexchannel 1.0";

constexpr const char* kHelp = R"(usage: wexchannel stamp INPUT.exe -o OUTPUT.exe [--json FILE] [--set KEY=VALUE]... [--force]
       wexchannel inspect FILE.exe
       wexchannel --help | --version

Writes and reads the channel blocks that WexDownloader.exe reads from the end
of its own file at start-up. A block is the channel document (UTF-8 JSON text
and one zero byte) followed by a 40-byte trailer: magic 0x0EF4, the data's
length and its MD5 digest in upper case.

stamp     Writes OUTPUT: a copy of INPUT with one more block appended. INPUT
          is never changed and OUTPUT is never INPUT itself; OUTPUT appears
          only once it is completely written, and an existing OUTPUT is
          replaced only with --force. A refused or failed stamp leaves no
          file behind.
            --json FILE      the channel document: a JSON object ("-" reads
                             standard input)
            --set KEY=VALUE  sets one key on top of --json, or builds the
                             document alone. The value takes the type the
                             installer reads for KEY: text for string keys,
                             a JSON number for number keys, true or false for
                             boolean keys; for other keys a JSON value if it
                             parses as one, otherwise text.
            -o, --output     the file to write
            --force          replace OUTPUT if it exists
          The document is written compactly, keys in the given order.
          Refused (exit 1, nothing written): a document that is not a JSON
          object; a known key whose value is not of the type below; a number
          the installer's field cannot hold unchanged (a fraction, out of
          range); "silentMode" other than 0 or 1; an INPUT that is not a PE
          image; a signed INPUT whose certificate table cannot take a block.
          Warned about: keys the installer ignores; keys of the new block that
          an older block already sets (see "Chaining").

inspect   Lists every block from the end of the file toward its start: data
          offset, length, whether the digest holds, the JSON text. Then the
          configuration as the installer applies it. Exit status 3 when the
          installer would not read every block, would stop applying at a value
          of the wrong type, or the certificate table is malformed.

Keys the installer reads, in the order it applies them:
  number:  buildid supplyid international silentMode bkgPngNumber
  string:  pkgName area marketExternParams sourceid gameName title
  boolean: createMarketIcon installMarket installUI installRootfs installVDI
           installVDI71 installQuib

Chaining: stamping a stamped file appends another block. The installer
applies the block nearest the end first and lets each older block overwrite
it, so for a key set by two blocks the older block (stamped first) wins: a
chained block cannot override a key an older block sets. stamp warns, naming
each such key.

Signed input (PE32 and PE32+): when INPUT carries an Authenticode signature,
the block goes at the end of the certificate table, which must end the file.
The table's size in the security directory and the dwLength of its last
WIN_CERTIFICATE entry both grow by the block's size, and zero bytes after the
text's terminating zero keep each block a multiple of 8 bytes. The signed
digest does not cover the certificate table, so the signature stays valid:
check with "osslsigncode verify -in OUTPUT.exe". The PE checksum is updated
when INPUT has one. An unsigned INPUT gets the block at its end.

Known limit - strict certificate padding check: Windows machines with the
strict certificate padding check enabled (EnableCertPaddingCheck=1 under
HKLM\Software\Microsoft\Cryptography\Wintrust\Config) treat any data after
the signature blob inside the certificate table as tampering: on them a
stamped signed file fails signature verification. Channels that must run on
such machines need an unsigned-area alternative: their channel data cannot be
carried in the signed file this way.

Exit status: 0 done; 1 refused or failed (message on stderr, nothing written);
2 wrong command line; 3 inspect found problems.
)";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

void PrintLines(std::ostream& err, const char* kind, const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) err << "wexchannel: " << kind << line << "\n";
}

// Characters of UTF-8 text, for lining up columns.
size_t CodePoints(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

struct StampOptions {
  std::string input;
  std::string output;
  std::optional<std::string> jsonFile;
  std::vector<std::string> sets;
  bool force = false;
};

StampOptions ParseStampOptions(const std::vector<std::string>& args) {
  StampOptions options;
  auto value = [&](size_t& i) -> const std::string& {
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    return args[++i];
  };
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-o" || arg == "--output") {
      options.output = value(i);
    } else if (arg == "--json") {
      if (options.jsonFile) throw UsageError("--json given twice");
      options.jsonFile = value(i);
    } else if (arg == "--set") {
      options.sets.push_back(value(i));
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else if (options.input.empty()) {
      options.input = arg;
    } else {
      throw UsageError("unexpected argument " + arg);
    }
  }
  if (options.input.empty()) throw UsageError("stamp needs an INPUT file");
  if (options.output.empty()) throw UsageError("stamp needs -o OUTPUT");
  if (!options.jsonFile && options.sets.empty()) throw UsageError("stamp needs --json FILE or --set KEY=VALUE");
  return options;
}

nlohmann::ordered_json SetValue(const std::string& key, const std::string& text) {
  const ChannelKey* known = FindChannelKey(key);
  const std::string where = "--set " + key + "=" + text + ": ";
  if (known != nullptr && known->kind == KeyKind::kString) return text;
  if (known != nullptr && known->kind == KeyKind::kBoolean) {
    if (text == "true") return true;
    if (text == "false") return false;
    throw ToolError(where + "key \"" + key + "\" must be a boolean (true or false)");
  }
  nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(text, nullptr, false);
  if (known != nullptr) {
    if (parsed.is_discarded() || !parsed.is_number()) {
      throw ToolError(where + "key \"" + key + "\" must be a number");
    }
    return parsed;
  }
  return parsed.is_discarded() ? nlohmann::ordered_json(text) : parsed;
}

nlohmann::ordered_json BuildDocument(const StampOptions& options) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  if (options.jsonFile) {
    std::string text;
    if (*options.jsonFile == "-") {
      text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
      std::vector<uint8_t> bytes = ReadWholeFile(PathOf(*options.jsonFile));
      text.assign(bytes.begin(), bytes.end());
    }
    try {
      document = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::exception& e) {
      throw ToolError(*options.jsonFile + " is not valid JSON: " + e.what());
    }
  }
  if (!options.sets.empty() && !document.is_object()) {
    throw ToolError(std::string("the channel document must be a JSON object, but is ") + document.type_name());
  }
  for (const std::string& set : options.sets) {
    const size_t equals = set.find('=');
    if (equals == std::string::npos || equals == 0) throw UsageError("--set needs KEY=VALUE, not " + set);
    const std::string key = set.substr(0, equals);
    document[key] = SetValue(key, set.substr(equals + 1));
  }
  return document;
}

int Stamp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const StampOptions options = ParseStampOptions(args);
  const fs::path input = PathOf(options.input);
  const fs::path output = PathOf(options.output);
  std::error_code error;
  if (fs::exists(output, error)) {
    if (fs::equivalent(input, output, error)) {
      throw ToolError(options.output + " is the input file: stamp writes a new file, never in place");
    }
    if (!options.force) throw ToolError(options.output + " exists; pass --force to replace it");
    if (fs::is_directory(output, error)) throw ToolError(options.output + " is a folder");
  }
  const nlohmann::ordered_json document = BuildDocument(options);
  const std::vector<uint8_t> image = ReadWholeFile(input);
  // Image problems name the file; document problems name the key.
  try {
    const PeLayout layout = ReadPeLayout(image);
    if (layout.IsSigned()) CheckCertificateTable(image, layout);
  } catch (const ToolError& e) {
    throw ToolError(options.input + ": " + e.what());
  }
  const StampResult result = StampChannel(image, document);
  for (const std::string& warning : result.warnings) PrintLines(err, "warning: ", warning);
  WriteFileAtomically(output, result.image, input);

  out << "stamped " << options.output << ": block data at " << Hex(result.dataOffset) << ", "
      << result.dataLength << " bytes + " << ChannelTrailer::kSize << "-byte trailer";
  if (result.insideCertificateTable) {
    out << ", inside the certificate table (" << result.padding << " padding bytes)";
  } else {
    out << ", at the end of the unsigned image";
  }
  out << "\n" << result.jsonText << "\n";
  return kExitOk;
}

// The certificate table line of the report; false when it is malformed.
bool ReportCertificateTable(std::span<const uint8_t> file, const PeLayout& layout, std::ostream& out) {
  if (!layout.IsSigned()) {
    out << "certificate table: none (unsigned image)\n";
    return true;
  }
  try {
    const CertificateTable table = CheckCertificateTable(file, layout);
    out << "certificate table: " << Hex(table.offset) << ", " << table.size
        << " bytes, ends the file; last entry at " << Hex(table.lastEntryOffset) << ", dwLength "
        << table.lastEntryLength << "\n";
    return true;
  } catch (const ToolError& e) {
    out << "certificate table: PROBLEM: " << e.what() << "\n";
    return false;
  }
}

int Inspect(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 2 || args[1].empty() || args[1][0] == '-') throw UsageError("inspect needs one FILE");
  const std::vector<uint8_t> file = ReadWholeFile(PathOf(args[1]));
  PeLayout layout;
  try {
    layout = ReadPeLayout(file);
  } catch (const ToolError& e) {
    throw ToolError(args[1] + ": " + e.what());
  }
  bool problems = false;
  out << args[1] << ": " << (layout.pe32Plus ? "PE32+" : "PE32") << " image, " << file.size() << " bytes\n";
  problems |= !ReportCertificateTable(file, layout, out);

  const BlockChain chain = WalkChannelBlocks(file);
  out << "channel blocks, nearest the end of the file first: " << chain.blocks.size() << "\n";
  for (size_t i = 0; i < chain.blocks.size(); ++i) {
    const ChannelBlockInfo& block = chain.blocks[i];
    out << "#" << i + 1 << "  data at " << Hex(block.dataOffset) << ", " << block.length << " bytes + "
        << ChannelTrailer::kSize << "-byte trailer; digest " << block.storedDigest
        << (block.digestOk ? " ok" : " BAD (the data's is " + block.computedDigest + ")");
    if (!block.zeroTerminated) {
      out << "; no terminating zero byte";
    } else if (block.bytesAfterZero != 0) {
      out << "; " << block.bytesAfterZero << " padding bytes after the text";
    }
    out << "\n    " << block.text << "\n";
    if (block.digestOk && !block.document) out << "    does not parse: " << block.parseError << "\n";
    if (i == chain.installerReads) {
      out << "    the installer stops here: it ignores this block and every older one\n";
      problems = true;
    }
  }
  out << "walk ended: " << chain.endReason << "\n";

  const EffectiveConfig config = ApplyAsInstaller(chain.InstallerDocuments());
  out << "configuration as the installer applies it (for a key set by two blocks, the one further from "
         "the end of the file wins):\n";
  for (const auto& [key, value] : DescribeSettings(config.settings)) {
    auto source = config.source.find(key);
    out << "  " << std::left << std::setw(20) << key << " " << value
        << std::string(24 - std::min<size_t>(24, CodePoints(value)) + 1, ' ')
        << (source == config.source.end() ? "default" : "block #" + std::to_string(source->second + 1))
        << "\n";
  }
  if (config.applyErrorDocument) {
    out << "the installer stops applying in block #" << *config.applyErrorDocument + 1 << ": "
        << config.applyError << "\n";
    problems = true;
  }
  return problems ? kExitProblems : kExitOk;
}

}  // namespace

const char* HelpText() { return kHelp; }

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    for (const std::string& arg : args) {
      if (arg == "--help" || arg == "-h") {
        out << kHelp;
        return kExitOk;
      }
    }
    if (args.empty()) throw UsageError("no command given");
    if (args[0] == "help") {
      out << kHelp;
      return kExitOk;
    }
    if (args[0] == "--version") {
      out << kVersion << "\n";
      return kExitOk;
    }
    if (args[0] == "stamp") return Stamp(args, out, err);
    if (args[0] == "inspect") return Inspect(args, out);
    throw UsageError("unknown command " + args[0]);
  } catch (const UsageError& e) {
    err << "wexchannel: " << e.what() << "\n"
        << "usage: wexchannel stamp INPUT.exe -o OUTPUT.exe [--json FILE] [--set KEY=VALUE]... [--force]\n"
        << "       wexchannel inspect FILE.exe\n"
        << "       wexchannel --help\n";
    return kExitUsage;
  } catch (const ToolError& e) {
    PrintLines(err, "error: ", e.what());
    return kExitRefused;
  } catch (const std::exception& e) {
    PrintLines(err, "error: ", e.what());
    return kExitRefused;
  }
}

}  // namespace wexchannel
