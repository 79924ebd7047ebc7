#!/bin/sh
# Runs one GoogleTest shard: run_shard.sh INDEX PROGRAM [ARGS...] (GTEST_TOTAL_SHARDS comes from
# the caller). Where GTEST_OUTPUT names a folder, the shard's XML report gets a name of its own,
# so that the shards running side by side do not write one file.
shard=$1
shift
case "${GTEST_OUTPUT:-}" in
    */) GTEST_OUTPUT="${GTEST_OUTPUT}$(basename "$1")_$shard.xml"; export GTEST_OUTPUT ;;
esac
GTEST_SHARD_INDEX=$shard
export GTEST_SHARD_INDEX
exec "$@"
