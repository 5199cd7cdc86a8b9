#!/usr/bin/env bash
# The AppStream metainfo as software centres read it: valid to appstreamcli
# (without the network), and its screenshots the pictures the window-snapshot
# tool makes.
# usage: metainfo_test.sh METAINFO SNAPSHOT_TOOL_SOURCE
set -u
metainfo=$1 tool=$2
status=0
appstreamcli validate --no-net "$metainfo" || status=1
for picture in $(grep -oE '<image>[^<]*</image>' "$metainfo" | sed 's|.*/\([^/<]*\)</image>|\1|'); do
  grep -q "\"$picture\"" "$tool" || { echo "FAIL: the snapshot tool makes no $picture"; status=1; }
done
exit $status
