#!/usr/bin/env bash
# gbsetup build --manifest over stand-in stubs: the three YAML files of the package manager's
# manifest read back with a YAML parser (PyYAML) and every field checked, the setup's digest
# against sha256sum, the deployment note (JSON), the values a JSON project's "manifest" gives
# and the options that override them, the identifier made from 作者名称 and 项目名称, an x64
# build, the uninstall entry the setup writes in the sandbox against the manifest's, and the
# refusals (nonzero exit, nothing built, no manifest written).
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
g="$repo/${GBSETUP_BUILD:-build}/gbsetup"
[ -x "$g" ] || { echo "manifest: $g not built" >&2; exit 1; }
source tests/e2e/lib/checks.sh
work="$(mktemp -d /tmp/e2e-manifest.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export GBSETUP_ROOT="$work/root"
# Debian's YAML and schema modules (python3-yaml, python3-jsonschema).
py=/usr/bin/python3
[ -x "$py" ] || py=python3
"$py" -c 'import yaml' || { echo "manifest: FAIL: python3 has no yaml module (python3-yaml, scripts/install-deps.sh)"; exit 1; }

# The data folder with stand-in stubs of both kinds, and a small application.
data="$work/data"
cp -r data "$data"
mkdir -p "$data/Exe/x64" "$work/app"
printf 'MZ setup stand-in' >"$data/Exe/Setup.exe"
printf 'MZ uninstaller stand-in' >"$data/Exe/UnIns.exe"
printf 'MZ x64 setup stand-in' >"$data/Exe/x64/Setup.exe"
printf 'MZ x64 uninstaller stand-in' >"$data/Exe/x64/UnIns.exe"
printf 'the program' >"$work/app/app.exe"
G() { "$g" --data "$data" build "$@"; }

# A name that needs quoting in YAML (a colon, quotes, a hash, Chinese) and a space, so that no
# identifier can be made from it.
name='演示 App: "Beta" #1'
cat >"$work/p.json" <<'JSON'
{
  "settings": {"项目名称": "演示 App: \"Beta\" #1", "版本号": "3.1.4-beta", "作者名称": "示例作者",
               "作者网址": "https://maker.example.invalid/", "安装界面显示": "否"},
  "folders": [{"from": "app/", "to": "Program Files"}],
  "pages": {"选择安装文件夹": {"程序文件夹名称": "演示"}, "安装完毕": {"主程序": "app/app.exe"}},
  "manifest": {"id": "Maker.Demo", "license": "专有软件", "description": "JSON 的说明"}
}
JSON
url='https://dl.example.invalid/v3/{file}'
desc='A "demo": C:\temp\ and #tags, 示例'

# nothing_in DIR: DIR is missing or empty.
nothing_in() { [ ! -e "$1" ] || [ -z "$(ls -A "$1")" ]; }

echo "== refusals"
refused() {  # refused WHAT PATTERN ARGS...: nonzero exit, PATTERN in the message, nothing written
  local what="$1" pattern="$2"
  shift 2
  rm -rf "$work/r-out" "$work/r-man"
  if G "$@" --output "$work/r-out" >"$work/r.txt" 2>&1; then
    fail "$what: the build succeeded"
    return
  fi
  check "$what: $(tail -1 "$work/r.txt")" grep -q -- "$pattern" "$work/r.txt"
  check "$what: no manifest and no setup" eval 'nothing_in "$work/r-man" && nothing_in "$work/r-out"'
}
refused "no --installer-url" "--installer-url URL" "$work/p.json" --manifest "$work/r-man"
refused "an address that is no web address" "http:// or https://" "$work/p.json" --manifest "$work/r-man" \
  --installer-url 'ftp://dl.example.invalid/{file}'
# without(KEY): the project without that key of its "manifest", beside it (its folders resolve there).
without() {
  "$py" -c 'import json,sys; j=json.load(open(sys.argv[1])); del j["manifest"][sys.argv[3]]; json.dump(j, open(sys.argv[2], "w"), ensure_ascii=False)' \
    "$work/p.json" "$work/no-$1.json" "$1"
  echo "$work/no-$1.json"
}
refused "no identifier from 作者名称.项目名称 with a space" "give one with --package-id" "$(without id)" \
  --manifest "$work/r-man" --installer-url "$url"
refused "a bad --package-id" "no package identifier: it needs at least two segments" "$work/p.json" \
  --manifest "$work/r-man" --installer-url "$url" --package-id Maker
refused "no licence" "--license TEXT" "$(without license)" --manifest "$work/r-man" --installer-url "$url"
refused "no 作者名称" "--set 作者名称=NAME" "$work/p.json" --set 作者名称= --manifest "$work/r-man" --installer-url "$url"
refused "--license without --manifest" "belongs to --manifest DIR" "$work/p.json" --license MIT
# The JSON's "manifest" is read as the other keys are: by type, and no unknown key.
for bad in '{"url": 5}:manifest.url: expected a non-empty string' \
  '{"licence": "MIT"}:manifest.licence: unknown key' \
  '"MIT":manifest: expected an object'; do
  value="${bad%%:manifest*}" want="manifest${bad#*:manifest}"
  "$py" - "$work/p.json" "$work/bad.json" "$value" <<'PY'
import json, sys
j = json.load(open(sys.argv[1]))
j["manifest"] = json.loads(sys.argv[3])
json.dump(j, open(sys.argv[2], "w"), ensure_ascii=False)
PY
  refused "\"manifest\": $value" "$want" "$work/bad.json" --manifest "$work/r-man" --installer-url "$url"
done

echo "== an x86 setup"
G "$work/p.json" --output "$work/out" --manifest "$work/man" --installer-url "$url" --description "$desc" \
  >"$work/b.txt" 2>&1 || fail "build: $(cat "$work/b.txt")"
setup="$work/out/$name.exe"
check "the setup is built" test -f "$setup"
check "the four files, named after the JSON's id" test "$(cd "$work/man" && ls | tr '\n' ' ')" = \
  "Maker.Demo.deploy.json Maker.Demo.installer.yaml Maker.Demo.locale.zh-CN.yaml Maker.Demo.yaml "
sha="$(sha256sum "$setup" | cut -d' ' -f1 | tr a-f A-F)"

# Every field of the three files, read by PyYAML; the deployment note by Python's json.
# check_manifest DIR ID ARCH SHA NAME VERSION DESCRIPTION FILE-IN-URL: prints one line per problem.
check_manifest() {
  "$py" - "$@" <<'PY'
import json, sys, urllib.parse, yaml
d, pid, arch, sha, name, version, desc, filename = sys.argv[1:9]
problems = []
def want(what, got, expected):
    if got != expected:
        problems.append(f"{what}: {got!r}, wanted {expected!r}")
def load(suffix):
    with open(f"{d}/{pid}{suffix}", encoding="utf-8") as f:
        text = f.read()
    # Every string scalar is quoted: a reader that guesses types must not turn one into a number.
    for node in yaml.compose(text).value:
        if node[1].tag == "tag:yaml.org,2002:str" and node[1].style != '"':
            problems.append(f"{suffix}: {node[0].value} is not double-quoted")
    return yaml.safe_load(text)

v = load(".yaml")
want("version file", v, {"PackageIdentifier": pid, "PackageVersion": version, "DefaultLocale": "zh-CN",
                         "ManifestType": "version", "ManifestVersion": "1.9.0"})

loc = load(".locale.zh-CN.yaml")
want("locale file", loc, {"PackageIdentifier": pid, "PackageVersion": version, "PackageLocale": "zh-CN",
                          "Publisher": "示例作者", "PublisherUrl": "https://maker.example.invalid/",
                          "PackageName": name, "License": "专有软件", "ShortDescription": desc,
                          "ManifestType": "defaultLocale", "ManifestVersion": "1.9.0"})

i = load(".installer.yaml")
want("PackageIdentifier", i.get("PackageIdentifier"), pid)
want("PackageVersion", i.get("PackageVersion"), version)
want("InstallerType", i.get("InstallerType"), "exe")
want("Scope", i.get("Scope"), "machine")
want("ElevationRequirement", i.get("ElevationRequirement"), "elevatesSelf")
want("UpgradeBehavior", i.get("UpgradeBehavior"), "install")
want("InstallerSwitches", i.get("InstallerSwitches"),
     {"Silent": "/VERYSILENT /NORESTART", "SilentWithProgress": "/SILENT /NORESTART",
      "InstallLocation": '/DIR="<INSTALLPATH>"', "Log": '/LOG="<LOGPATH>"'})
want("InstallerSuccessCodes", i.get("InstallerSuccessCodes"), [3010])
want("ExpectedReturnCodes", i.get("ExpectedReturnCodes"),
     [{"InstallerReturnCode": 1602, "ReturnResponse": "cancelledByUser"},
      {"InstallerReturnCode": 1618, "ReturnResponse": "installInProgress"},
      {"InstallerReturnCode": 1641, "ReturnResponse": "rebootInitiated"},
      {"InstallerReturnCode": 3010, "ReturnResponse": "rebootRequiredToFinish"}])
want("ProductCode", i.get("ProductCode"), name)
want("AppsAndFeaturesEntries", i.get("AppsAndFeaturesEntries"),
     [{"DisplayName": name + version, "Publisher": "示例作者", "DisplayVersion": version, "ProductCode": name}])
url = "https://dl.example.invalid/v3/" + urllib.parse.quote(filename, safe="")
want("Installers", i.get("Installers"), [{"Architecture": arch, "InstallerUrl": url, "InstallerSha256": sha}])
want("ManifestType", i.get("ManifestType"), "installer")
want("ManifestVersion", i.get("ManifestVersion"), "1.9.0")
# The address names the file a download gets.
want("the address decoded", urllib.parse.unquote(urllib.parse.urlsplit(url).path.rsplit("/", 1)[1]), filename)

with open(f"{d}/{pid}.deploy.json", encoding="utf-8") as f:
    j = json.load(f)
key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name
view = "64-bit" if arch == "x64" else "32-bit"
q = f'"{filename}"'
want("deploy install", j.get("install"),
     {"command": q + " /VERYSILENT /NORESTART", "withProgress": q + " /SILENT /NORESTART",
      "intoFolder": q + f' /VERYSILENT /NORESTART /DIR="D:\\Apps\\{name}"',
      "withLog": q + f' /VERYSILENT /NORESTART /LOG="C:\\Windows\\Temp\\{name}.setup.log"'})
want("deploy uninstall", j.get("uninstall"),
     {"command": '"<install folder>\\UnIns.exe" /S',
      "readFrom": {"key": key, "registryView": view, "value": "QuietUninstallString"}})
want("deploy exit codes", [c["code"] for c in j.get("exitCodes", [])], [0, 1, 87, 1602, 1603, 1618, 1641, 3010])
want("deploy results", {c["code"]: c["result"] for c in j.get("exitCodes", [])},
     {0: "success", 1: "failure", 87: "failure", 1602: "failure", 1603: "failure", 1618: "retry",
      1641: "hardReboot", 3010: "softReboot"})
want("deploy detection", j.get("detection"),
     {"type": "registry", "key": key, "registryView": view, "value": "DisplayVersion", "operator": "equals",
      "data": version})
want("deploy setup", (j.get("packageIdentifier"), j.get("version"), j.get("architecture"), j.get("setupFile")),
     (pid, version, arch, filename))
for p in problems:
    print(p)
PY
}
problems="$(check_manifest "$work/man" Maker.Demo x86 "$sha" "$name" 3.1.4-beta "$desc" "$name.exe" 2>&1)"
check "every field of the x86 manifest and note${problems:+: $problems}" test -z "$problems"
check "InstallerSha256 is sha256sum's, upper case: $sha" grep -q "InstallerSha256: \"$sha\"" "$work/man/Maker.Demo.installer.yaml"
G "$work/p.json" --output "$work/out-j" --manifest "$work/man-j" --installer-url "$url" >/dev/null 2>&1
check "the JSON's description without --description" \
  "$py" -c 'import sys, yaml; sys.exit(yaml.safe_load(open(sys.argv[1], encoding="utf-8"))["ShortDescription"] != "JSON 的说明")' \
  "$work/man-j/Maker.Demo.locale.zh-CN.yaml"
check "a JSON project with \"manifest\" passes the schema" "$py" -m jsonschema -i "$work/p.json" docs/project.schema.json
check_not "and one whose \"manifest\" is a string does not" \
  eval '"$py" -m jsonschema -i "$work/bad.json" docs/project.schema.json >/dev/null 2>&1'

echo "== an x64 setup, an identifier from the options and one made from the project"
G "$work/p.json" --arch x64 --output "$work/out64" --manifest "$work/man64" --installer-url "$url" \
  --description "$desc" --package-id 'Other.示例.X64' >"$work/b64.txt" 2>&1 || fail "x64 build: $(cat "$work/b64.txt")"
sha64="$(sha256sum "$work/out64/$name.exe" | cut -d' ' -f1 | tr a-f A-F)"
check "the x64 setup is another file" test "$sha64" != "$sha"
problems="$(check_manifest "$work/man64" 'Other.示例.X64' x64 "$sha64" "$name" 3.1.4-beta "$desc" "$name.exe" 2>&1)"
check "every field of the x64 manifest (--package-id over the JSON's id)${problems:+: $problems}" test -z "$problems"

# No id anywhere, and a project name that makes one: 作者名称.项目名称. That setup goes into the
# sandbox, whose uninstall entry must be the one the manifest describes.
G "$(without id)" --output "$work/out-d" --manifest "$work/man-d" --installer-url "$url" --description "$desc" \
  --set 项目名称=演示程序 --set 版本号=4.0 >"$work/bd.txt" 2>&1 || fail "build: $(cat "$work/bd.txt")"
shad="$(sha256sum "$work/out-d/演示程序.exe" | cut -d' ' -f1 | tr a-f A-F)"
problems="$(check_manifest "$work/man-d" '示例作者.演示程序' x86 "$shad" 演示程序 4.0 "$desc" 演示程序.exe 2>&1)"
check "the identifier 示例作者.演示程序 and --set values in the manifest${problems:+: $problems}" test -z "$problems"

"$g" install "$work/out-d/演示程序.exe" --root "$work/root" >"$work/install.txt" 2>&1 ||
  fail "sandbox install: $(cat "$work/install.txt")"
problems="$("$py" - "$work/root/registry.reg" "$work/man-d/示例作者.演示程序.installer.yaml" \
  "$work/man-d/示例作者.演示程序.deploy.json" <<'PY' 2>&1
import json, re, sys, yaml
text = open(sys.argv[1], encoding="gbk").read()
i = yaml.safe_load(open(sys.argv[2], encoding="utf-8"))
deploy = json.load(open(sys.argv[3], encoding="utf-8"))
key = deploy["detection"]["key"]
values, section = {}, None
for line in text.splitlines():
    if line.startswith("["):
        section = line[1:-1]
    elif section is not None and section.lower() == key.lower():
        m = re.match(r'"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$', line)
        if m:
            values[m.group(1)] = re.sub(r'\\(.)', r'\1', m.group(2))
problems = []
if not values:
    problems.append(f"no key {key} in registry.reg")
entry = i["AppsAndFeaturesEntries"][0]
for name in ("DisplayName", "Publisher", "DisplayVersion"):
    if values.get(name) != entry[name]:
        problems.append(f"{name}: the setup wrote {values.get(name)!r}, the manifest says {entry[name]!r}")
if key.rsplit("\\", 1)[1] != i["ProductCode"]:
    problems.append(f"ProductCode {i['ProductCode']!r} is not the key's name")
if values.get(deploy["detection"]["value"]) != deploy["detection"]["data"]:
    problems.append("the detection rule does not match what the setup wrote")
quiet = values.get("QuietUninstallString", "")
if not re.fullmatch(r'"[A-Z]:\\.*\\UnIns\.exe" /S', quiet) or not deploy["uninstall"]["command"].endswith('\\UnIns.exe" /S'):
    problems.append(f"QuietUninstallString {quiet!r} against the note's {deploy['uninstall']['command']!r}")
for p in problems:
    print(p)
PY
)"
check "the sandbox's uninstall entry is the manifest's${problems:+: $problems}" test -z "$problems"

echo "manifest: $failures failure(s)"
[ "$failures" = 0 ]
