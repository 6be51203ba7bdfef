#!/usr/bin/env bash
# What wixl (msitools 0.101) can't put into orvx.msi, added with msibuild:
# - the pattern's bytes as binary values (wixl writes Type="binary" as
#   text, and an escaped "#x" as "##x");
# - keys without a value, created and removed with the package (Name "*"):
#   the pixel formats WIC lists, and Paint in "Open with";
# - the PATH entry: wixl has no Environment element. "=-*PATH" with
#   "[~];[INSTALLDIR]": the machine's PATH, the folder appended on install
#   and taken out on uninstall, in the component of the PathEntry feature.
# Usage: msi_fixup.sh MSI
set -euo pipefail
msi=$1
decoder='CLSID\{FC40E1C5-7666-4662-9D9B-394F3EB65D5A}'
msibuild "$msi" -q "UPDATE \`Registry\` SET \`Value\` = '#x4557' WHERE \`Name\` = 'Pattern'" \
  -q "UPDATE \`Registry\` SET \`Value\` = '#xFFFF' WHERE \`Name\` = 'Mask'" \
  -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('regFormat4', 0, '$decoder\Formats\{6FDDC324-4E03-4BFE-B185-3D77768DC903}', '*', 'Codec')" \
  -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('regFormat8', 0, '$decoder\Formats\{6FDDC324-4E03-4BFE-B185-3D77768DC904}', '*', 'Codec')" \
  -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('regOpenWithPaint', 0, '.daz\OpenWithList\mspaint.exe', '*', 'Codec')" \
  -q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)" \
  -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('PathEntry', '=-*PATH', '[~];[INSTALLDIR]', 'Path')" \
  -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)" \
  -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
