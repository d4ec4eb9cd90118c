#pragma once
// The about box (being written).
