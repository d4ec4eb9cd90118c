#pragma once
// The dialogs' small controls (being written).
