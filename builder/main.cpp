// qvbuild: compiles script source into a setup folder, and writes the script
// of a built setup back as source.
//
//   qvbuild build <source.qvs> [-o <setup folder>] [--payload <folder>] [--stub <quorvane.exe>]
//                 [--name <base name>] [-D NAME=VALUE]...
//   qvbuild dump <setup.exe> [-o <source.qvs>]
//   qvbuild statements
//
// Exit codes: 0 done, 1 errors in the source (each printed as file:line: message),
// 2 wrong usage or a file that cannot be read or written.

#include "builder/SetupBuilder.h"
#include "builder/SourceWriter.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "script/StatementSchema.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kOk = 0;
constexpr int kSourceErrors = 1;
constexpr int kUsage = 2;

void Print(FILE* stream, const std::wstring& text) {
  const std::string utf8 = qv::WideToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

int Usage(const std::wstring& problem) {
  if (!problem.empty()) Print(stderr, L"qvbuild: " + problem + L"\n");
  Print(stderr,
        L"usage:\n"
        L"  qvbuild build <source.qvs> [-o <setup folder>] [--payload <folder>] [--stub <quorvane.exe>]\n"
        L"                [--name <base name>] [-D NAME=VALUE]...\n"
        L"  qvbuild dump <setup.exe> [-o <source.qvs>]\n"
        L"  qvbuild statements\n");
  return kUsage;
}

// Reads "option value" pairs; the first argument without a leading "-" is the input.
bool ParseArguments(const std::vector<std::wstring>& args, std::wstring& input,
                    std::vector<std::pair<std::wstring, std::wstring>>& options, std::wstring& problem) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg.size() > 1 && arg[0] == L'-') {
      if (i + 1 >= args.size()) {
        problem = arg + L" needs a value";
        return false;
      }
      options.emplace_back(arg, args[++i]);
    } else if (input.empty()) {
      input = arg;
    } else {
      problem = L"unexpected argument '" + arg + L"'";
      return false;
    }
  }
  if (input.empty()) problem = L"the input file is missing";
  return !input.empty();
}

int Build(const std::vector<std::wstring>& args) {
  qv::build::BuildOptions options;
  std::vector<std::pair<std::wstring, std::wstring>> given;
  std::wstring problem;
  if (!ParseArguments(args, options.source, given, problem)) return Usage(problem);
  for (const auto& [option, value] : given) {
    if (option == L"-o" || option == L"--output") {
      options.outputFolder = value;
    } else if (option == L"--payload") {
      options.payloadFolder = value;
    } else if (option == L"--stub") {
      options.stub = value;
    } else if (option == L"--name") {
      options.name = value;
    } else if (option == L"-D" || option == L"--define") {
      const size_t eq = value.find(L'=');
      if (eq == std::wstring::npos || eq == 0) return Usage(L"-D expects NAME=VALUE");
      options.defines.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    } else {
      return Usage(L"unknown option " + option);
    }
  }
  const auto outcome = qv::build::BuildSetup(options);
  for (const auto& error : outcome.errors) Print(stderr, error.ToString() + L"\n");
  if (!outcome.errors.empty()) return kSourceErrors;
  Print(stdout, L"qvbuild: wrote " + outcome.setupPath + L"\n");
  return kOk;
}

int Dump(const std::vector<std::wstring>& args) {
  std::wstring setup, output;
  std::vector<std::pair<std::wstring, std::wstring>> given;
  std::wstring problem;
  if (!ParseArguments(args, setup, given, problem)) return Usage(problem);
  for (const auto& [option, value] : given) {
    if (option != L"-o" && option != L"--output") return Usage(L"unknown option " + option);
    output = value;
  }
  const std::wstring source = qv::build::WriteSource(qv::build::ReadAppendedScript(qv::ReadWholeFile(setup)));
  if (output.empty())
    Print(stdout, source);
  else
    qv::WriteWholeFile(output, qv::WideToUtf8(source));
  return kOk;
}

// The statement schema as a Markdown table, for the documentation.
int Statements() {
  std::wstring text = L"| Statement | Parameters (keyword: kind, default) |\n|---|---|\n";
  for (const auto& spec : qv::AllStatements()) {
    std::wstring params;
    for (const auto& p : spec.parameters()) {
      if (!params.empty()) params += L"; ";
      params += L"`" + std::wstring(p.name) + L"`: " + std::wstring(qv::ParameterKindName(p.kind));
      if (p.joinSeparator)
        params += L", optional";
      else if (p.required())
        params += L", required";
      else
        params += std::wstring(L", \"") + p.defaultText + L"\"";
    }
    if (spec.repeatLast) params += L" (repeatable)";
    text += L"| " + std::wstring(spec.name) + L" | " + (params.empty() ? L"—" : params) + L" |\n";
  }
  Print(stdout, text);
  return kOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.empty()) return Usage(L"");
  const std::wstring command = args.front();
  args.erase(args.begin());
  try {
    if (command == L"build") return Build(args);
    if (command == L"dump") return Dump(args);
    if (command == L"statements") return Statements();
    return Usage(L"unknown command '" + command + L"'");
  } catch (const qv::Error& e) {
    Print(stderr, L"qvbuild: " + e.message() + L"\n");
    return kUsage;
  } catch (const std::exception& e) {
    Print(stderr, L"qvbuild: " + qv::Utf8ToWide(e.what()) + L"\n");
    return kUsage;
  }
}
