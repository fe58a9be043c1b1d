#pragma once
#include "pch_desktop.h"
#include <QTemporaryDir>
#include <gtest/gtest.h>
