// Headers every test parses; compiled once, reused by every test of its kind.
#pragma once
#include "pch_core.h"
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
