#pragma once
struct Tool;

void Read_Identity(Tool& t); // state 5
